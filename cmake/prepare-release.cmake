# Run by CPack for each generator once it has laid out the files to package,
# before it packages them: the zip first, then the installer. The zip starts
# the release folder afresh; where the release is signed, kelvane.exe gets its
# signature here, the same for the zip and the installer.
set(release "${CPACK_KELVANE_RELEASE_DIRECTORY}")
if(CPACK_GENERATOR STREQUAL "ZIP")
  file(REMOVE_RECURSE "${release}")
  file(MAKE_DIRECTORY "${release}")
endif()
if(CPACK_KELVANE_SIGNING)
  include("${CPACK_KELVANE_SIGN_SCRIPT}")
  SignImage("${CPACK_TEMPORARY_DIRECTORY}/kelvane.exe" kelvane.exe "${release}" "${CPACK_KELVANE_HOMEPAGE}"
            "${CPACK_KELVANE_TIMESTAMP}")
endif()
