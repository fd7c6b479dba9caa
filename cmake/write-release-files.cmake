# Run by CPack each time a generator has made its package, before it is copied
# beside the others: the zip first, then the installer. Writes SHA256SUMS for
# the packages (the form `sha256sum -c SHA256SUMS` checks) and, with the
# installer, the winget and Scoop manifests: packaging/'s templates filled with
# the packages' addresses and hashes.
set(KELVANE_VERSION "${CPACK_PACKAGE_VERSION}")
set(KELVANE_HOMEPAGE "${CPACK_KELVANE_HOMEPAGE}")
set(KELVANE_PUBLISHER "${CPACK_PACKAGE_VENDOR}")
set(KELVANE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}")
set(KELVANE_ZIP "kelvane-${KELVANE_VERSION}-win32.zip")
set(KELVANE_SETUP "kelvane-${KELVANE_VERSION}-setup.exe")

# This generator's package, and the zip made before the installer.
set(packages ${CPACK_PACKAGE_FILES})
if(CPACK_GENERATOR STREQUAL "NSIS")
  list(PREPEND packages "${CPACK_PACKAGE_DIRECTORY}/${KELVANE_ZIP}")
endif()

set(sums "")
foreach(package IN ITEMS ZIP SETUP)
  foreach(path IN LISTS packages)
    get_filename_component(name "${path}" NAME)
    if(name STREQUAL KELVANE_${package} AND EXISTS "${path}")
      file(SHA256 "${path}" KELVANE_${package}_SHA256)
      string(APPEND sums "${KELVANE_${package}_SHA256}  ${name}\n")
      set(KELVANE_${package}_URL "${CPACK_KELVANE_DOWNLOAD_URL}/${name}")
    endif()
  endforeach()
endforeach()
file(WRITE "${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS" "${sums}")

if(DEFINED KELVANE_ZIP_SHA256 AND DEFINED KELVANE_SETUP_SHA256)
  file(GLOB_RECURSE templates RELATIVE "${CPACK_KELVANE_PACKAGING}"
       "${CPACK_KELVANE_PACKAGING}/winget/*" "${CPACK_KELVANE_PACKAGING}/scoop/*")
  foreach(template IN LISTS templates)
    configure_file("${CPACK_KELVANE_PACKAGING}/${template}" "${CPACK_PACKAGE_DIRECTORY}/${template}" @ONLY)
  endforeach()
endif()
