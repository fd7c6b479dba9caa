# Run by CPack each time a generator has made its package, before CPack copies
# it into its own working folder: the zip first, then the installer. Publishes
# each package in CPACK_KELVANE_RELEASE_DIRECTORY (started afresh by
# prepare-release.cmake), which then holds nothing else but the signatures of a
# signed release and, with the installer, SHA256SUMS for both (the form `sha256sum -c
# SHA256SUMS` checks) and the winget and Scoop manifests: packaging/'s templates
# filled with the packages' addresses and hashes. The zip's entries get fixed
# stamps first, so that two builds of one commit give the same bytes.
set(release "${CPACK_KELVANE_RELEASE_DIRECTORY}")
set(KELVANE_VERSION "${CPACK_PACKAGE_VERSION}")
set(KELVANE_HOMEPAGE "${CPACK_KELVANE_HOMEPAGE}")
# The publisher's page: the home page's owner (https://github.com/OWNER).
string(REGEX REPLACE "/[^/]*$" "" KELVANE_PUBLISHER_URL "${KELVANE_HOMEPAGE}")
set(KELVANE_PUBLISHER "${CPACK_PACKAGE_VENDOR}")
set(KELVANE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}")
set(KELVANE_ZIP "kelvane-${KELVANE_VERSION}-win32.zip")
set(KELVANE_SETUP "kelvane-${KELVANE_VERSION}-setup.exe")
# Scoop's autoupdate finds a later release where this one is, by its version.
string(REPLACE "${KELVANE_VERSION}" "$version" KELVANE_DOWNLOAD_PATTERN "${CPACK_KELVANE_DOWNLOAD_URL}")

if(CPACK_GENERATOR STREQUAL "ZIP")
  # A packaging tool: only packaging needs it.
  find_program(KELVANE_STRIP_NONDETERMINISM strip-nondeterminism REQUIRED)
  execute_process(COMMAND "${KELVANE_STRIP_NONDETERMINISM}" --type zip
                          --timestamp "${CPACK_KELVANE_TIMESTAMP}" ${CPACK_PACKAGE_FILES}
                  COMMAND_ERROR_IS_FATAL ANY)
endif()
file(COPY ${CPACK_PACKAGE_FILES} DESTINATION "${release}")

if(CPACK_GENERATOR STREQUAL "NSIS" AND EXISTS "${release}/${KELVANE_ZIP}")
  set(sums "")
  foreach(package IN ITEMS ZIP SETUP)
    set(name "${KELVANE_${package}}")
    file(SHA256 "${release}/${name}" KELVANE_${package}_SHA256)
    string(APPEND sums "${KELVANE_${package}_SHA256}  ${name}\n")
    set(KELVANE_${package}_URL "${CPACK_KELVANE_DOWNLOAD_URL}/${name}")
  endforeach()
  file(WRITE "${release}/SHA256SUMS" "${sums}")

  file(GLOB_RECURSE templates RELATIVE "${CPACK_KELVANE_PACKAGING}"
       "${CPACK_KELVANE_PACKAGING}/winget/*" "${CPACK_KELVANE_PACKAGING}/scoop/*")
  foreach(template IN LISTS templates)
    configure_file("${CPACK_KELVANE_PACKAGING}/${template}" "${release}/${template}" @ONLY)
  endforeach()
endif()
