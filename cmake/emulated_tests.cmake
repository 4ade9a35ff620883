# The tests of a Linux cross build (cmake/s390x-linux-gnu.cmake, cmake/aarch64-linux-gnu.cmake),
# run on this machine under qemu's user-mode emulation. Included at the end of CMakeLists.txt,
# once every test is registered.
#
# The unit and hardening suites are cross-built and run under the emulator, one ctest test
# per binary (cmake/tolvex_gtest.cmake). The end-to-end suite runs from the native build
# named by TOLVEX_NATIVE_TESTS_DIR (the Makefile builds it first) against the emulated
# program, as the Windows build does under Wine: the archives it feeds the program are then
# made on a little-endian host, so that a byte-order mistake shared by the program and the
# test support cannot hide.

if(NOT (TOLVEX_TESTS AND CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR)
   OR CMAKE_SYSTEM_NAME STREQUAL "Windows")
  return()
endif()

set(TOLVEX_NATIVE_TESTS_DIR "" CACHE PATH
    "A native build with the tests, whose end-to-end tests run the emulated program here")

tolvex_emulated_runner(runner)

# Not under the emulator: the hardening cases that start the program themselves, with the
# path it was built at, in a child under a resource limit (a stack of 1 MiB, open files).
# From inside the emulator that child cannot start: the host's kernel does not run the
# target's programs (qemu would need to be registered with binfmt_misc, which takes root).
# The end-to-end suite's own limit (a file size limit) does run, against the emulated program.
set(child_cases LimitsTest.HandlesTheDeepestHeadersOnAOneMebibyteStack
                LimitsTest.ExtractsUnderAnOpenFileLimitOf32
                OpenFileLimits.EveryLimitGivesOneOutcome)
list(JOIN child_cases ":" child_cases)
get_directory_property(emulated TESTS)
foreach(test IN LISTS emulated)
  set_tests_properties(${test} PROPERTIES
                       ENVIRONMENT "GTEST_FILTER=-${child_cases};TOLVEX_PROGRAM=${runner}")
endforeach()

set(run_here tolvex ${emulated})
if(TOLVEX_NATIVE_TESTS_DIR)
  # The cross-built end-to-end suite gives way to the native one.
  set_tests_properties(tolvex_end_to_end_tests PROPERTIES DISABLED TRUE)
  list(REMOVE_ITEM run_here tolvex_end_to_end_tests)
  add_test(NAME tolvex_end_to_end_tests.native
           COMMAND ${TOLVEX_NATIVE_TESTS_DIR}/tolvex_end_to_end_tests --gtest_brief=1)
  set_tests_properties(tolvex_end_to_end_tests.native PROPERTIES
                       ENVIRONMENT TOLVEX_PROGRAM=${runner})
endif()

# Only what runs here is built (with what it needs): the program and the emulated suites.
get_directory_property(targets BUILDSYSTEM_TARGETS)
foreach(target IN LISTS targets)
  if(NOT target IN_LIST run_here)
    set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
  endif()
endforeach()
