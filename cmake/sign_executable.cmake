# Signs one Windows executable in place with osslsigncode: Authenticode, SHA-256, and an RFC 3161
# timestamp when TIMESTAMP_URL names a server. The signed copy is written beside the executable
# and renamed over it, so a build stopped part way never leaves a half-written file; a failure
# removes the unsigned executable too, so that the next build links and signs it again rather
# than taking it for finished. The password, if any, is read by osslsigncode from PASSWORD_FILE:
# never on a command line, where other users' ps and the build log would show it.
# Run as: cmake -DOSSLSIGNCODE=... -DEXE=... -DDESCRIPTION=... -DCERT=... [-DKEY=...]
#   [-DPASSWORD_FILE=...] [-DTIMESTAMP_URL=...] -P sign_executable.cmake
# With no KEY, CERT is a PKCS#12 file holding the certificate and its key.
if(KEY)
  set(credentials -certs "${CERT}" -key "${KEY}")
else()
  set(credentials -pkcs12 "${CERT}")
endif()
if(PASSWORD_FILE)
  list(APPEND credentials -readpass "${PASSWORD_FILE}")
endif()
set(timestamp)
if(TIMESTAMP_URL)
  set(timestamp -ts "${TIMESTAMP_URL}")
endif()

set(signed "${EXE}.signing")
# osslsigncode refuses to overwrite: a copy an interrupted build left goes first.
file(REMOVE "${signed}")
execute_process(
  COMMAND "${OSSLSIGNCODE}" sign ${credentials} -h sha256 -n "${DESCRIPTION}" ${timestamp}
          -in "${EXE}" -out "${signed}"
  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  file(REMOVE "${signed}" "${EXE}")
  message(FATAL_ERROR "${EXE}: osslsigncode could not sign it (status ${status}), so it is removed:\n${output}")
endif()
# osslsigncode writes a plain file: executable again, as the linker left it.
file(CHMOD "${signed}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
     WORLD_READ WORLD_EXECUTE)
file(RENAME "${signed}" "${EXE}")
