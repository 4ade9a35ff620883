# The builds that packages are made of (`make package`, packaging/make-packages.sh), and the
# Debian package made by CPack. Included at the end of CMakeLists.txt, so that what it sets
# reaches every target of the project.
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
  # Position-independent executables are the compiler's default. lintian still notes, as
  # information, hardening-no-fortify-functions: the program's reads go to buffers whose
  # size is known only when it runs, so no call becomes a checked one (__read_chk), and the
  # C++ runtime linked in was built without the checks (its sprintf).
  string(APPEND CMAKE_CXX_FLAGS " -D_FORTIFY_SOURCE=2 -fstack-protector-strong")
  string(APPEND CMAKE_EXE_LINKER_FLAGS " -Wl,-z,relro -Wl,-z,now")
  if(TOLVEX_LINK_STATIC)
    # glibc linked statically: the program makes no name lookups and loads no locale, the
    # two things a static glibc needs the installed one for. It needs a Linux kernel 3.2 or
    # later (2012), as Debian's glibc does.
    string(APPEND CMAKE_EXE_LINKER_FLAGS " -static")
  else()
    # The C++ runtime inside the program: the package then depends on the C library alone,
    # and installs on releases whose libstdc++ is older than the one it was built with. The
    # C library it needs is that of the build machine, as dpkg-shlibdeps finds: built on
    # Debian 12, glibc 2.36 (the C++ runtime's random device calls arc4random, its unwinder
    # _dl_find_object).
    string(APPEND CMAKE_EXE_LINKER_FLAGS " -static-libstdc++ -static-libgcc")
  endif()
endif()

# The Debian package: `cpack -G DEB` in a dynamically linked package build. Debian's checker,
# lintian (2.116), reports neither an error nor a warning on it; what it notes as
# information is explained beside its cause.
set(CPACK_PACKAGE_NAME tolvex)
set(CPACK_PACKAGE_VENDOR "the tolvex developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "safe extractor for ASAR archives")
# What `apt show tolvex` shows under the summary; lines of at most 79 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "tolvex extracts ASAR archives: single files that hold a whole directory
tree, as desktop applications built with web technologies ship their code.
Each archive's tree is recreated under ./tolvex, with one progress line for
every file.
.
It is written for archives from anywhere: it reads the header with its own
strict parser, writes nothing outside ./tolvex, follows no symbolic link
planted in the output, never writes into a file that was already there, and
does not crash or hang on a damaged or hostile archive.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
# The Maintainer field: the project has no address of its own yet, so this one is a
# stand-in; a release should name a real one (cmake -DTOLVEX_PACKAGE_CONTACT=...).
set(TOLVEX_PACKAGE_CONTACT "the tolvex developers <tolvex@users.noreply.example>"
    CACHE STRING "Who answers for the Debian package: a name and an address")
set(CPACK_PACKAGE_CONTACT ${TOLVEX_PACKAGE_CONTACT})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Debian's own packages also lose the compiler's notes (.comment): debian_files.cmake.
set(CPACK_TOLVEX_OBJCOPY ${CMAKE_OBJCOPY})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are read from the program by dpkg-shlibdeps: the C library alone, at the
# version whose symbols the program uses.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# What Debian asks of every package besides the program, added to the staged tree before it
# is packed: the manual page compressed, the copyright file and the changelog.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian_files.cmake)

include(CPack)
