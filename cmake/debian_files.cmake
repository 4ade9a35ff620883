# Run by CPack (CPACK_PRE_BUILD_SCRIPTS, see packaging.cmake) on the tree staged for the
# Debian package, before it is packed: what Debian asks of a package besides the program.
#
# - The program without the compilers' notes (.comment), as Debian strips its own.
# - The manual page compressed to the utmost (gzip -9), without gzip's own name and time.
# - /usr/share/doc/tolvex/copyright, the licence in Debian's machine-readable form.
# - /usr/share/doc/tolvex/changelog.gz: one entry for this version, dated with the commit
#   (string(TIMESTAMP) takes SOURCE_DATE_EPOCH), so that a rebuild gives the same bytes.
#
# CPack itself sets the time of every member of the package to SOURCE_DATE_EPOCH.

cmake_policy(VERSION 3.25)

set(root ${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${root}/share/doc/${CPACK_PACKAGE_NAME})

function(gzip_file from to)
  execute_process(COMMAND gzip -9 -n -c ${from} OUTPUT_FILE ${to} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip could not compress ${from}")
  endif()
  file(CHMOD ${to} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endfunction()

# Stripped as Debian strips programs: without the compilers' names and versions either.
file(GLOB programs ${root}/bin/*)
foreach(program IN LISTS programs)
  execute_process(COMMAND ${CPACK_TOLVEX_OBJCOPY} --remove-section=.comment ${program}
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "objcopy could not remove .comment from ${program}")
  endif()
endforeach()

file(GLOB pages ${root}/share/man/man*/*.[1-9])
foreach(page IN LISTS pages)
  gzip_file(${page} ${page}.gz)
  file(REMOVE ${page})
endforeach()

file(MAKE_DIRECTORY ${doc})

# The licence text, each line indented by one space and blank lines written as " .".
file(STRINGS ${CPACK_RESOURCE_FILE_LICENSE} licence)
list(FILTER licence EXCLUDE REGEX "^(MIT License|Copyright .*)$")
set(body "")
set(started FALSE)
foreach(line IN LISTS licence)
  if(NOT started AND line STREQUAL "")
    continue()
  endif()
  set(started TRUE)
  if(line STREQUAL "")
    string(APPEND body " .\n")
  else()
    string(APPEND body " ${line}\n")
  endif()
endforeach()
file(STRINGS ${CPACK_RESOURCE_FILE_LICENSE} holders REGEX "^Copyright ")
list(GET holders 0 holder)
string(REGEX REPLACE "^Copyright (\\([cC]\\) )?" "" holder "${holder}")
file(WRITE ${doc}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ${CPACK_PACKAGE_NAME}

Files: *
Copyright: ${holder}
License: MIT
${body}")

string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${CPACK_TEMPORARY_DIRECTORY}/changelog
"${CPACK_PACKAGE_NAME} (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}.

 -- ${CPACK_PACKAGE_CONTACT}  ${date}
")
gzip_file(${CPACK_TEMPORARY_DIRECTORY}/changelog ${doc}/changelog.gz)
file(REMOVE ${CPACK_TEMPORARY_DIRECTORY}/changelog)
file(CHMOD ${doc}/copyright PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# Directories made here or by the installation follow the umask of the build: 0755 whatever
# it is.
file(GLOB_RECURSE directories LIST_DIRECTORIES true ${CPACK_TEMPORARY_DIRECTORY}/*)
foreach(directory IN LISTS directories)
  if(IS_DIRECTORY ${directory})
    file(CHMOD ${directory} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
         GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endforeach()
