# Installs the build into a fresh folder and fails on anything a desktop install needs that is
# not there or not right: a missing file, an icon of the wrong size, a desktop entry naming an
# icon or a program that was not installed, AppStream metadata that names another id or entry,
# leaves out an installed program or has no release for this version.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DEXPECTED=installed-files.txt -DAPP_ID=... -DVERSION=...
#         -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(failures "")
file(STRINGS ${EXPECTED} expected)
foreach(path IN LISTS expected)
    if(NOT EXISTS ${PREFIX}/${path})
        list(APPEND failures "missing: ${path}")
    endif()
endforeach()

# A PNG's width and height are big-endian at bytes 16 and 20; the folder name promises them.
file(GLOB icons RELATIVE ${PREFIX} ${PREFIX}/share/icons/hicolor/*/apps/veltrace.png)
foreach(icon IN LISTS icons)
    string(REGEX MATCH "/([0-9]+)x([0-9]+)/" side "${icon}")
    set(promised ${CMAKE_MATCH_1})
    file(READ ${PREFIX}/${icon} header LIMIT 24 HEX)
    string(SUBSTRING "${header}" 0 16 signature)
    string(SUBSTRING "${header}" 32 8 width_hex)
    string(SUBSTRING "${header}" 40 8 height_hex)
    math(EXPR width "0x${width_hex}")
    math(EXPR height "0x${height_hex}")
    if(NOT signature STREQUAL "89504e470d0a1a0a")
        list(APPEND failures "not a PNG file: ${icon}")
    elseif(NOT width EQUAL promised OR NOT height EQUAL promised)
        list(APPEND failures "${icon} is ${width} x ${height}")
    endif()
endforeach()

set(entry ${PREFIX}/share/applications/${APP_ID}.desktop)
if(EXISTS ${entry})
    file(STRINGS ${entry} icon_line REGEX "^Icon=")
    string(REPLACE "Icon=" "" icon_name "${icon_line}")
    if(NOT EXISTS ${PREFIX}/share/icons/hicolor/48x48/apps/${icon_name}.png)
        list(APPEND failures "the desktop entry's icon '${icon_name}' is not installed")
    endif()
    file(STRINGS ${entry} try_line REGEX "^TryExec=")
    string(REPLACE "TryExec=" "" try_program "${try_line}")
    if(NOT EXISTS ${PREFIX}/bin/${try_program})
        list(APPEND failures "the desktop entry's program '${try_program}' is not installed")
    endif()
endif()

# A software centre finds the program through its metadata: the id, the menu entry it launches
# and the programs it provides must be the ones installed, and the release the one built.
set(metainfo ${PREFIX}/share/metainfo/${APP_ID}.metainfo.xml)
if(EXISTS ${metainfo})
    file(READ ${metainfo} xml)
    string(REGEX MATCH "<id>([^<]*)</id>" _ "${xml}")
    if(NOT CMAKE_MATCH_1 STREQUAL APP_ID)
        list(APPEND failures "the metadata's id is '${CMAKE_MATCH_1}', its file name says ${APP_ID}")
    endif()
    string(REGEX MATCH "<launchable type=\"desktop-id\">([^<]*)</launchable>" _ "${xml}")
    if(NOT EXISTS ${PREFIX}/share/applications/${CMAKE_MATCH_1})
        list(APPEND failures "the metadata launches '${CMAKE_MATCH_1}', which is not installed")
    endif()
    string(REGEX MATCHALL "<binary>[^<]*</binary>" provided "${xml}")
    list(TRANSFORM provided REPLACE "</?binary>" "")
    list(SORT provided)
    file(GLOB installed_programs RELATIVE ${PREFIX}/bin ${PREFIX}/bin/*)
    list(SORT installed_programs)
    if(NOT provided STREQUAL installed_programs)
        list(APPEND failures
             "the metadata provides '${provided}', the package installs '${installed_programs}'")
    endif()
    string(REGEX MATCH "<release version=\"([^\"]*)\"" _ "${xml}")
    if(NOT CMAKE_MATCH_1 STREQUAL VERSION)
        list(APPEND failures
             "the metadata's newest release is '${CMAKE_MATCH_1}', this build is ${VERSION}")
    endif()
endif()

if(failures)
    list(JOIN failures "\n  " text)
    message(FATAL_ERROR "The installed tree in ${PREFIX} is not complete:\n  ${text}")
endif()
list(LENGTH expected count)
message(STATUS "Installed tree holds all ${count} files")
