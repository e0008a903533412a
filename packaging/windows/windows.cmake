# What a Windows user gets, in the zip (unpacked into a folder of the user's choice) and the
# installer (Program Files\Veltrace): veltrace.exe with its guide, its licence and the notices
# of the libraries built into it, side by side. The texts get Windows line ends.
# Included from packaging/CMakeLists.txt on Windows, before CPack.

set(windows_texts
    "${CMAKE_SOURCE_DIR}/readme.txt|readme.txt"
    "${CMAKE_SOURCE_DIR}/LICENSE|LICENSE.txt"
    "${CMAKE_CURRENT_LIST_DIR}/third-party-notices.txt|third-party-notices.txt")
set(windows_text_dir ${CMAKE_CURRENT_BINARY_DIR}/windows-texts)
foreach(pair IN LISTS windows_texts)
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 input)
    list(GET pair 1 name)
    add_custom_command(
        OUTPUT ${windows_text_dir}/${name}
        COMMAND ${CMAKE_COMMAND} -DINPUT=${input} -DOUTPUT=${windows_text_dir}/${name}
                -P ${CMAKE_CURRENT_LIST_DIR}/crlf.cmake
        DEPENDS ${input} ${CMAKE_CURRENT_LIST_DIR}/crlf.cmake
        COMMENT "Giving ${name} Windows line ends"
        VERBATIM)
    list(APPEND generated_files ${windows_text_dir}/${name})
    install(FILES ${windows_text_dir}/${name} DESTINATION .)
endforeach()

# CPack: `cpack -G ZIP` makes the zip (scripts/build-windows.sh checks what it holds).
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "veltrace-${PROJECT_VERSION}-windows-x64")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

# `cpack -G NSIS` makes the installer veltrace-<version>-setup-x64.exe from NSIS.template.in here
# (Debian's nsis, 64-bit stubs). scripts/check-installer.sh tries it under Wine.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
set(CPACK_PACKAGE_INSTALL_DIRECTORY Veltrace)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Veltrace)
set(CPACK_VELTRACE_VERSION4 "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.0")
set(CPACK_VELTRACE_COPYRIGHT "${VELTRACE_COPYRIGHT}")
set(CPACK_VELTRACE_ICON "${VELTRACE_ICON_FILE}")
# Where the Start-menu shortcut starts the program (readme.txt says so).
set(CPACK_VELTRACE_WORKING_FOLDER "%USERPROFILE%")
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack-options.cmake)
