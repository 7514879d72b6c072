# Signs one program (cmake -P, a build step of cmake/authenticode.cmake): IN signed into OUT
# (the same file: in place), through OUT.signing renamed over OUT, so that OUT is whole or old.
#   -DPFX= -DPASSWORD_FILE=  osslsigncode with SHA-256 digests, the password read from its file
#   -DSIGN_COMMAND=          else the operator's command, given the copy to sign in place last
#   -DTIMESTAMP_URL=         RFC 3161 timestamp (osslsigncode only; a command stamps on its own)
# A failed signing also removes an IN signed in place: left unsigned, it would count as built.
set(work "${OUT}.signing")
file(REMOVE "${work}")
if(PFX)
  set(stamp "")
  if(TIMESTAMP_URL)
    set(stamp -ts "${TIMESTAMP_URL}")
  endif()
  execute_process(COMMAND osslsigncode sign -pkcs12 "${PFX}" -readpass "${PASSWORD_FILE}" -h sha256 ${stamp}
                          -in "${IN}" -out "${work}"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
else()
  file(COPY_FILE "${IN}" "${work}")
  separate_arguments(command UNIX_COMMAND "${SIGN_COMMAND}")
  execute_process(COMMAND ${command} "${work}" RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
endif()
if(NOT result EQUAL 0 OR NOT EXISTS "${work}")
  file(REMOVE "${work}")
  if(IN STREQUAL OUT)
    file(REMOVE "${IN}")
  endif()
  message(FATAL_ERROR "Authenticode signing of ${IN} failed (${result}):\n${output}")
endif()
# osslsigncode writes a new file with the default mode; a program stays one.
file(CHMOD "${work}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
                                      WORLD_EXECUTE)
file(RENAME "${work}" "${OUT}")
