# Gives a release image its Authenticode signature, when the package workflow
# signs (cmake/package-names.cmake says whether): kelvane.exe before the zip and
# the installer take it, the uninstaller before the installer embeds it, the
# installer once it is written.
#
# One signature an image, kept in the release's signatures/ folder as
# NAME.sig, goes on the unsigned image by attach-signature, whichever way it
# was obtained, so that the attached signature is the only difference between
# the unsigned and the signed image:
# - given KELVANE_SIGNATURES (a published signatures/ folder), its NAME.sig,
#   which rebuilds a signed release byte for byte;
# - made earlier in this run (kelvane.exe for the installer, after the zip);
# - else made now with KELVANE_SIGNING_CERTIFICATE (a PEM certificate chain, or
#   a PKCS#12 file), KELVANE_SIGNING_KEY (its PEM key; none for PKCS#12) and
#   KELVANE_SIGNING_PASSWORD, SHA-256, the project's name and address, and a
#   timestamp from KELVANE_TIMESTAMP_URL, or else the fixed signing time
#   KELVANE_SIGNING_TIME, so that two signed builds are equal.
# A failure removes the release folder: no half-signed release is left.
#
# Included by the package scripts, which call SignImage, or run by makensis:
#   cmake -D KELVANE_IMAGE=FILE -D KELVANE_NAME=NAME -D KELVANE_RELEASE=DIR
#         -D KELVANE_HOMEPAGE=URL -D KELVANE_SIGNING_TIME=SECONDS -P sign-image.cmake

function(KelvaneSigningFailed release message)
  file(REMOVE_RECURSE "${release}")
  message(FATAL_ERROR "Signing the release failed, and nothing was published: ${message}")
endfunction()

function(SignImage image name release homepage signing_time)
  set(signatures "${release}/signatures")
  set(signature "${signatures}/${name}.sig")
  find_program(KELVANE_OSSLSIGNCODE osslsigncode)
  if(NOT KELVANE_OSSLSIGNCODE)
    KelvaneSigningFailed("${release}" "osslsigncode is needed to sign (apt-get install osslsigncode).")
  endif()
  file(MAKE_DIRECTORY "${signatures}")

  if(DEFINED ENV{KELVANE_SIGNATURES})
    if(NOT EXISTS "$ENV{KELVANE_SIGNATURES}/${name}.sig")
      KelvaneSigningFailed("${release}"
        "KELVANE_SIGNATURES ($ENV{KELVANE_SIGNATURES}) holds no ${name}.sig.")
    endif()
    file(COPY_FILE "$ENV{KELVANE_SIGNATURES}/${name}.sig" "${signature}")
  elseif(NOT EXISTS "${signature}")
    # The password goes to osslsigncode in a file only its owner can read,
    # never on a command line.
    set(private "${release}.signing")
    file(REMOVE_RECURSE "${private}")
    file(MAKE_DIRECTORY "${private}")
    file(CHMOD "${private}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    set(certificate "$ENV{KELVANE_SIGNING_CERTIFICATE}")
    set(key "$ENV{KELVANE_SIGNING_KEY}")
    if(NOT EXISTS "${certificate}")
      KelvaneSigningFailed("${release}" "KELVANE_SIGNING_CERTIFICATE (${certificate}) is no file.")
    endif()
    file(READ "${certificate}" head LIMIT 64)
    if(head MATCHES "-----BEGIN")
      if(NOT EXISTS "${key}")
        KelvaneSigningFailed("${release}"
          "KELVANE_SIGNING_KEY (${key}) is no file: a PEM certificate needs its PEM key.")
      endif()
      set(credentials -certs "${certificate}" -key "${key}")
    else()
      set(credentials -pkcs12 "${certificate}")
    endif()
    if(DEFINED ENV{KELVANE_SIGNING_PASSWORD})
      file(WRITE "${private}/password" "$ENV{KELVANE_SIGNING_PASSWORD}")
      list(APPEND credentials -readpass "${private}/password")
    endif()
    set(causes "a key of another certificate, or a wrong password?")
    if(NOT "$ENV{KELVANE_TIMESTAMP_URL}" STREQUAL "")
      set(time -ts "$ENV{KELVANE_TIMESTAMP_URL}")
      set(causes "a key of another certificate, a wrong password, or no timestamp from \
KELVANE_TIMESTAMP_URL?")
    else()
      set(time -time "${signing_time}")
    endif()
    execute_process(COMMAND "${KELVANE_OSSLSIGNCODE}" sign ${credentials} -h sha256 -n kelvane -i "${homepage}"
                            ${time} -in "${image}" -out "${private}/signed"
                    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(result EQUAL 0)
      execute_process(COMMAND "${KELVANE_OSSLSIGNCODE}" extract-signature -in "${private}/signed"
                              -out "${signature}"
                      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    endif()
    file(REMOVE_RECURSE "${private}")
    if(NOT result EQUAL 0)
      KelvaneSigningFailed("${release}" "osslsigncode could not sign ${name} with \
KELVANE_SIGNING_CERTIFICATE and KELVANE_SIGNING_KEY (${causes}):\n${output}")
    endif()
  endif()

  # attach-signature also checks the signer against the system's roots, which
  # need not know it; only a signature whose digest is not this image's is
  # refused here.
  file(REMOVE "${image}.signed")
  execute_process(COMMAND "${KELVANE_OSSLSIGNCODE}" attach-signature -sigin "${signature}" -in "${image}"
                          -out "${image}.signed"
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  string(REGEX MATCH "Current message digest *: *([0-9A-F]+)" current "${output}")
  set(current "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Calculated message digest *: *([0-9A-F]+)" calculated "${output}")
  set(calculated "${CMAKE_MATCH_1}")
  if(NOT EXISTS "${image}.signed" OR current STREQUAL "" OR NOT current STREQUAL calculated)
    file(REMOVE "${image}.signed")
    KelvaneSigningFailed("${release}" "${name}.sig is not the signature of this ${name}; a rebuild \
needs the source of the release the signatures came from.\n${output}")
  endif()
  file(RENAME "${image}.signed" "${image}")
endfunction()

if(DEFINED KELVANE_IMAGE)
  SignImage("${KELVANE_IMAGE}" "${KELVANE_NAME}" "${KELVANE_RELEASE}" "${KELVANE_HOMEPAGE}"
            "${KELVANE_SIGNING_TIME}")
endif()
