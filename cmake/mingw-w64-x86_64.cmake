# Cross-compiles for 64-bit Windows with MinGW-w64 and runs what it builds under Wine.
#
# Debian: apt-get install --no-install-recommends g++-mingw-w64-x86-64-posix wine64
# The posix thread model is the one whose C++ library has std::thread and std::mutex. Every
# program is linked with -static (the C and C++ runtimes and winpthreads inside the .exe), so
# a built .exe runs alone: on Windows without MinGW's DLLs, and under Wine without a path to
# them.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOLVEX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TOLVEX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOLVEX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOLVEX_MINGW_TRIPLE}-windres)

# Headers and libraries come from the MinGW-w64 tree only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOLVEX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Wine runs the built programs for ctest. Its prefix (the Windows tree it keeps, about 700 MB,
# made on first use) lives in the build directory, so that a fresh build starts from an empty
# one and nothing under the user's home is touched. Without DISPLAY Wine opens no window and
# needs no X server; with Mono and Gecko disabled it never offers to install them; WINEDEBUG
# silences its diagnostics so that a test's output is the program's own. Wine turns arguments
# and file names between UTF-16 and bytes in the locale's character set: in the C locale it
# mangles every non-ASCII argument and cannot create a non-ASCII name, hence LC_ALL.
find_program(TOLVEX_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(TOLVEX_WINE AND NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      env -u DISPLAY LC_ALL=C.UTF-8 WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${TOLVEX_WINE})
endif()
