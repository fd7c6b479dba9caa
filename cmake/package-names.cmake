# Read by CPack for each generator: the zip is kelvane-VERSION-win32.zip and
# the installer kelvane-VERSION-setup.exe.
#
# Signing is opt-in and read from the package step's environment: a release is
# signed where KELVANE_SIGNING_CERTIFICATE is given, and given the signatures of
# a published release (KELVANE_SIGNATURES), rebuilt with them
# (sign-image.cmake). makensis then gives the uninstaller its signature before
# it embeds it, and the installer its own once written.
if(DEFINED ENV{KELVANE_SIGNATURES} OR DEFINED ENV{KELVANE_SIGNING_CERTIFICATE})
  set(CPACK_KELVANE_SIGNING ON)
endif()
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "kelvane-${CPACK_PACKAGE_VERSION}-setup")
  set(CPACK_KELVANE_SIGNING_COMMANDS "")
  if(CPACK_KELVANE_SIGNING)
    set(sign "\"${CPACK_KELVANE_CMAKE}\" -D \"KELVANE_RELEASE=${CPACK_KELVANE_RELEASE_DIRECTORY}\" \
-D \"KELVANE_HOMEPAGE=${CPACK_KELVANE_HOMEPAGE}\" -D KELVANE_SIGNING_TIME=${CPACK_KELVANE_TIMESTAMP} \
-D \"KELVANE_IMAGE=%1\"")
    set(script "-P \"${CPACK_KELVANE_SIGN_SCRIPT}\"")
    set(CPACK_KELVANE_SIGNING_COMMANDS "!uninstfinalize `${sign} -D KELVANE_NAME=uninstall.exe ${script}` = 0
!finalize `${sign} -D KELVANE_NAME=${CPACK_PACKAGE_FILE_NAME}.exe ${script}` = 0")
  endif()
endif()
