# The builds that the Linux and Windows archives are made of (`make package`,
# packaging/make-packages.sh; the Debian package is built from debian/ with Debian's own
# flags). Included at the end of CMakeLists.txt, so that what it sets reaches every target
# of the project.
#
# TOLVEX_PACKAGE builds the program as it is shipped: hardened like Debian's own packages,
# and with nothing of the machine that built it inside (paths, times), so that two builds of
# one commit give the same bytes. TOLVEX_LINK_STATIC links the C and C++ libraries into the
# program, so that it runs on any Linux distribution with nothing installed.

option(TOLVEX_PACKAGE "Build the program as it is shipped in the packages" OFF)
option(TOLVEX_LINK_STATIC "Link the program statically (the C library included)" OFF)

if(NOT TOLVEX_PACKAGE)
  return()
endif()

# The name of the archive that ships this build, for packaging/make-packages.sh:
# tolvex-<version>-<system>-<processor>, as tolvex-0.91-linux-x86_64.
string(TOLOWER "${PROJECT_NAME}-${PROJECT_VERSION}-${CMAKE_SYSTEM_NAME}-${CMAKE_SYSTEM_PROCESSOR}"
       name)
file(WRITE ${CMAKE_BINARY_DIR}/package-name.txt "${name}\n")

# Set at the end of the directory, CMAKE_<LANG>_FLAGS reach every target made above.
#
# Paths of the source and build trees (in debug information, __FILE__, assertion texts) are
# written relative to them: a build elsewhere gives the same bytes.
string(APPEND CMAKE_CXX_FLAGS
       " -ffile-prefix-map=${CMAKE_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=")
if(WIN32)
  # The linker would stamp the .exe with the time it was made.
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,--no-insert-timestamp")
else()
  # What Debian builds its packages with (dpkg-buildflags with hardening=+all): checked
  # buffer functions, stack protection, and a read-only relocation table bound at start.
  # Position-independent executables are the compiler's default.
  string(APPEND CMAKE_CXX_FLAGS " -D_FORTIFY_SOURCE=2 -fstack-protector-strong")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,-z,relro -Wl,-z,now")
  if(TOLVEX_LINK_STATIC)
    # glibc linked statically: the program makes no name lookups and loads no locale, the
    # two things a static glibc needs the installed one for. It needs a Linux kernel 3.2 or
    # later (2012), as Debian's glibc does.
    string(APPEND CMAKE_EXE_LINKER_FLAGS " -static")
  endif()
endif()
