# Shared by the toolchain files of the Linux cross builds (cmake/<triple>.cmake), which set
# TOLVEX_CROSS_TRIPLE and CMAKE_SYSTEM_PROCESSOR, then include this file.
#
# Debian's cross compilers (g++-<triple>) come with the target's C and C++ libraries under
# /usr/<triple>. The programs built run on this machine under qemu's user-mode emulation
# (qemu-user), which loads the target's dynamic linker and libraries from that same tree.

set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${TOLVEX_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TOLVEX_CROSS_TRIPLE}-g++)

# Headers and libraries come from the target's tree only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOLVEX_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest runs what is built under qemu-<arch>; without it the build is made but not run.
find_program(TOLVEX_QEMU NAMES qemu-${TOLVEX_QEMU_ARCH} qemu-${TOLVEX_QEMU_ARCH}-static)
if(TOLVEX_QEMU AND NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOLVEX_QEMU} -L /usr/${TOLVEX_CROSS_TRIPLE})
endif()
