# Cross-compiles for Linux on 64-bit Arm (aarch64), little-endian like x86-64 but with a
# weaker memory order, and runs what it builds under qemu. qemu runs the guest's threads on
# the host's, with the host's ordering: what it shows is the program built by another
# compiler back end for another processor, not Arm's memory order (see doc/DEVELOPING.md).
#
# Debian: apt-get install --no-install-recommends g++-aarch64-linux-gnu qemu-user googletest

set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TOLVEX_CROSS_TRIPLE aarch64-linux-gnu)
set(TOLVEX_QEMU_ARCH aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
