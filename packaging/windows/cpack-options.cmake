# Read by cpack for each generator: the installer's name differs from the zip's.
if(CPACK_GENERATOR STREQUAL "NSIS")
    set(CPACK_PACKAGE_FILE_NAME "veltrace-${CPACK_PACKAGE_VERSION}-setup-x64")
endif()
