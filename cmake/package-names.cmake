# Read by CPack for each generator: the zip is kelvane-VERSION-win32.zip and
# the installer kelvane-VERSION-setup.exe.
if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "kelvane-${CPACK_PACKAGE_VERSION}-setup")
endif()
