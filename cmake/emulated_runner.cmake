# tolvex_emulated_runner(<variable>): writes a script that starts the built program under
# CMAKE_CROSSCOMPILING_EMULATOR (the emulator's command line, then the program) and sets
# <variable> to its path. Tests that start the program find it through TOLVEX_PROGRAM.
function(tolvex_emulated_runner variable)
  set(runner ${CMAKE_BINARY_DIR}/tolvex-emulated)
  set(command "")
  foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
    string(REPLACE "'" "'\\''" word "${word}")
    string(APPEND command "'${word}' ")
  endforeach()
  file(GENERATE OUTPUT ${runner}
       CONTENT "#!/bin/sh\nexec ${command}'$<TARGET_FILE:tolvex>' \"$@\"\n"
       FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                        WORLD_READ WORLD_EXECUTE)
  set(${variable} ${runner} PARENT_SCOPE)
endfunction()
