# Cross-compiles for Linux on IBM Z (s390x), a big-endian processor, and runs what it builds
# under qemu: any assumption that the host orders bytes as the archive does shows here.
#
# Debian: apt-get install --no-install-recommends g++-s390x-linux-gnu qemu-user googletest

set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TOLVEX_CROSS_TRIPLE s390x-linux-gnu)
set(TOLVEX_QEMU_ARCH s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
