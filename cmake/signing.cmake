# Authenticode signing of the Windows executables with the certificate a release engineer names.
# Signing is on when ADAPTER_REPORT_SIGN_CERT names a file; each executable is then signed as the
# last step of its build (sign_executable.cmake), so every later use of it, the checks under Wine
# and the package alike, takes the signed file.
set(ADAPTER_REPORT_SIGN_CERT "" CACHE FILEPATH
    "Sign the executables: the code-signing certificate (PEM or DER, its chain after it), or with no key named a PKCS#12 file holding certificate and key; empty: unsigned")
set(ADAPTER_REPORT_SIGN_KEY "" CACHE FILEPATH "The certificate's private key (PEM or DER); empty when the certificate is a PKCS#12 file")
set(ADAPTER_REPORT_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "A file whose first line unlocks the key or the PKCS#12 file; empty when neither is encrypted. A password itself is never taken")
set(ADAPTER_REPORT_TIMESTAMP_URL "" CACHE STRING
    "An RFC 3161 timestamp server: a timestamped signature stays valid after the certificate expires")

if(ADAPTER_REPORT_SIGN_CERT)
  find_program(OSSLSIGNCODE osslsigncode)
  if(NOT OSSLSIGNCODE)
    message(FATAL_ERROR "signing needs osslsigncode: install it (scripts/install-deps --all)")
  endif()
  foreach(file ADAPTER_REPORT_SIGN_CERT ADAPTER_REPORT_SIGN_KEY ADAPTER_REPORT_SIGN_PASSWORD_FILE)
    if(${file} AND NOT EXISTS "${${file}}")
      message(FATAL_ERROR "${file} names ${${file}}, which does not exist")
    endif()
  endforeach()
endif()

# What the signatures depend on, rewritten only when it changes: a tree switched to another
# certificate, another timestamp server or none links and signs its executables again.
file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/signing.txt" CONTENT
     "certificate: ${ADAPTER_REPORT_SIGN_CERT}\nkey: ${ADAPTER_REPORT_SIGN_KEY}\npassword file: ${ADAPTER_REPORT_SIGN_PASSWORD_FILE}\ntimestamp server: ${ADAPTER_REPORT_TIMESTAMP_URL}\n")

# Signs PROGRAM after each link. The signature's description is the program's name. The elevation
# prompt collect.cmd brings up is for %SystemRoot%\System32\cmd.exe (present_devices /elevate
# starts it), so it shows cmd.exe's name and Microsoft's signature, never this one.
function(sign_after_link program)
  set_property(TARGET ${program} APPEND PROPERTY LINK_DEPENDS "${PROJECT_BINARY_DIR}/signing.txt")
  if(NOT ADAPTER_REPORT_SIGN_CERT)
    return()
  endif()
  set_property(TARGET ${program} APPEND PROPERTY LINK_DEPENDS "${PROJECT_SOURCE_DIR}/cmake/sign_executable.cmake"
               ${ADAPTER_REPORT_SIGN_CERT} ${ADAPTER_REPORT_SIGN_KEY} ${ADAPTER_REPORT_SIGN_PASSWORD_FILE})
  # The signature covers the image as linked, so the image is stripped here: strip rewrites the
  # file and drops the signature, and the package installs the executables as they are.
  target_link_options(${program} PRIVATE -s)
  add_custom_command(TARGET ${program} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DOSSLSIGNCODE=${OSSLSIGNCODE}" "-DEXE=$<TARGET_FILE:${program}>"
            "-DDESCRIPTION=${program}" "-DCERT=${ADAPTER_REPORT_SIGN_CERT}"
            "-DKEY=${ADAPTER_REPORT_SIGN_KEY}" "-DPASSWORD_FILE=${ADAPTER_REPORT_SIGN_PASSWORD_FILE}"
            "-DTIMESTAMP_URL=${ADAPTER_REPORT_TIMESTAMP_URL}" -P "${PROJECT_SOURCE_DIR}/cmake/sign_executable.cmake"
    VERBATIM)
endfunction()
