# GoogleTest for the test binaries, and tolvex_add_gtests(<target> [UNIT]) to hand one to
# ctest.
#
# A native build uses the installed GoogleTest. A cross build cannot link the build machine's
# libraries, so it builds GoogleTest from its sources with the cross compiler (Debian ships
# them as package googletest, in /usr/src/googletest), under the same GTest:: names.

include(GoogleTest)

if(NOT CMAKE_CROSSCOMPILING)
  find_package(GTest REQUIRED)
else()
  set(TOLVEX_GOOGLETEST_SOURCE_DIR /usr/src/googletest
      CACHE PATH "GoogleTest sources, built with the cross compiler")
  if(NOT EXISTS ${TOLVEX_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${TOLVEX_GOOGLETEST_SOURCE_DIR}: "
                        "install Debian's googletest or set TOLVEX_GOOGLETEST_SOURCE_DIR.")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "Install GoogleTest with the project" FORCE)
  # The project's warning flags are for its own code: GoogleTest is built with its own.
  get_directory_property(projectOptions COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory(${TOLVEX_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest
                   EXCLUDE_FROM_ALL SYSTEM)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${projectOptions}")
  foreach(library gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${library})
      add_library(GTest::${library} ALIAS ${library})
    endif()
  endforeach()
endif()

# A unit suite (UNIT) needs nothing but its build: it starts no program of its own, asks for
# no terminal and sends no signal. With TOLVEX_UNIT_TESTS_ONLY, as the Debian package's build
# has it (debian/rules), only those suites are built and registered.
option(TOLVEX_UNIT_TESTS_ONLY "With TOLVEX_TESTS, build and run the unit suites alone" OFF)

# Natively every test case is a ctest test of its own, listed when the binary is built. In a
# cross build the binary runs under CMAKE_CROSSCOMPILING_EMULATOR (Wine), and each start
# there costs far more than the case itself, so the binary is one ctest test that runs all its
# cases; without an emulator the tests are built but cannot run here, and are not registered.
function(tolvex_add_gtests target)
  cmake_parse_arguments(PARSE_ARGV 1 suite UNIT "" "")
  if(suite_UNIT)
    set_property(GLOBAL APPEND PROPERTY TOLVEX_UNIT_SUITES ${target})
  elseif(TOLVEX_UNIT_TESTS_ONLY)
    return()
  endif()
  if(NOT CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60)
  elseif(CMAKE_CROSSCOMPILING_EMULATOR)
    add_test(NAME ${target} COMMAND ${target} --gtest_brief=1)
    set_tests_properties(${target} PROPERTIES FIXTURES_REQUIRED emulator)
  endif()
endfunction()

# Wine's first start makes its prefix, which takes several seconds: one setup test starts it
# before any other test runs, so that no test's time or timeout includes it.
if(CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR MATCHES "wine")
  add_test(NAME emulator.start COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} wineboot --init)
  set_tests_properties(emulator.start PROPERTIES FIXTURES_SETUP emulator TIMEOUT 300)
endif()

# With TOLVEX_UNIT_TESTS_ONLY, once the whole project is read: what neither the program nor a
# unit suite needs is left out of the build.
function(tolvex_build_unit_suites_only)
  get_property(keep GLOBAL PROPERTY TOLVEX_UNIT_SUITES)
  list(APPEND keep tolvex)
  get_directory_property(targets DIRECTORY ${CMAKE_SOURCE_DIR} BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    if(NOT target IN_LIST keep)
      set_target_properties(${target} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    endif()
  endforeach()
endfunction()
if(TOLVEX_UNIT_TESTS_ONLY)
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tolvex_build_unit_suites_only)
endif()
