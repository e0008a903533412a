# The Windows test programs, cross-built with MinGW and run under Wine (scripts/wine-run.sh).
# The portable suites of every folder, the Windows versions of the POSIX-only cases
# (tests/windows/), and the GUI tests written against the test driver, which run here on the
# Win32 backend and on Linux on the Qt one.
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

function(veltrace_windows_tests name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
    list(TRANSFORM ARG_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
    add_executable(${name} ${ARG_SOURCES} ${CMAKE_CURRENT_SOURCE_DIR}/test_main_win32.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} gtest PNG::PNG ZLIB::ZLIB
                                          veltrace_simframes)
    target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600)
endfunction()

veltrace_windows_tests(tests_state
    SOURCES state/scope_state_test.cpp windows/settings_file_win32_test.cpp
    LIBRARIES veltrace_state veltrace_toolkit)
veltrace_windows_tests(tests_toolkit
    SOURCES toolkit/date_test.cpp toolkit/text_test.cpp toolkit/line_test.cpp
            toolkit/image_test.cpp toolkit/thread_test.cpp toolkit/png_test.cpp
            toolkit/pause_test.cpp toolkit/glyph_table_test.cpp toolkit/gui_events_test.cpp
            toolkit/gui_threaded_test.cpp
            driver/gui_driver_win32.cpp windows/common_controls.rc
    LIBRARIES veltrace_toolkit)
veltrace_windows_tests(tests_display
    SOURCES display/readout_test.cpp display/render_test.cpp
    LIBRARIES veltrace_display)
veltrace_windows_tests(tests_measure
    SOURCES measure/measure_test.cpp
    LIBRARIES veltrace_measure veltrace_link veltrace_display)
veltrace_windows_tests(tests_link
    SOURCES link/decoder_test.cpp link/settings_decoding_test.cpp link/arrival_plan_test.cpp
            windows/serial_port_win32_test.cpp
    LIBRARIES veltrace_link)
veltrace_windows_tests(tests_app
    SOURCES app/golden_test.cpp app/view_update_test.cpp app/capture_test.cpp
            app/driven_window_test.cpp app/gui_cursor_test.cpp app/gui_commands_test.cpp
            app/gui_button_state_test.cpp app/gui_measurements_test.cpp
            driver/gui_driver_win32.cpp windows/common_controls.rc
    LIBRARIES veltrace_app)

# Requests to end the program: a request stays for the life of the process, so every case runs
# in a process of its own.
add_executable(tests_termination windows/termination_win32_test.cpp test_main_win32.cpp)
target_link_libraries(tests_termination PRIVATE veltrace_app gtest)
foreach(case Termination.CtrlCIsReportedAndStaysOnceCaught
             Termination.SessionEndClosesAnOpenMessageBoxAndIsReported
             TerminationProgram.SessionEndEndsTheEventLoopLikeQuit
             TerminationStart.ARefusedStartIsOneLineAndStatusOne)
    add_test(NAME tests_termination.${case} COMMAND tests_termination --gtest_filter=${case})
    set_tests_properties(tests_termination.${case} PROPERTIES TIMEOUT 120)
endforeach()

# The serial port on a line: COM5 is mapped to a pseudo-terminal whose far end is pty-far-side,
# a Linux program (built by scripts/build-windows.sh with the host compiler) that answers the
# test's requests. Without it the test is not made.
set(VELTRACE_PTY_FAR_SIDE "" CACHE FILEPATH "The Linux far side of the serial line test")
add_executable(tests_serial_line windows/serial_line_win32_test.cpp test_main_win32.cpp)
target_link_libraries(tests_serial_line PRIVATE veltrace_link veltrace_simframes gtest)
if(VELTRACE_PTY_FAR_SIDE)
    set(line_link ${CMAKE_BINARY_DIR}/serial-line/com5)
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/serial-line)
    add_test(NAME tests_serial_line
             COMMAND ${VELTRACE_PTY_FAR_SIDE} ${line_link} ${VELTRACE_WINE}
                     $<TARGET_FILE:tests_serial_line>)
    set_tests_properties(tests_serial_line PROPERTIES TIMEOUT 120
                         ENVIRONMENT VELTRACE_WINE_COM5=${line_link})
endif()

# The built program file's own resources: icon 1 and the version, read back as Windows reads them.
# It carries the program's resources itself, so its windows show what the program's do.
add_executable(tests_program_file windows/program_file_win32_test.cpp test_main_win32.cpp
                                  ${CMAKE_SOURCE_DIR}/app/veltrace.rc)
target_include_directories(tests_program_file PRIVATE ${CMAKE_BINARY_DIR}/generated)
set_source_files_properties(${CMAKE_SOURCE_DIR}/app/veltrace.rc PROPERTIES OBJECT_DEPENDS
                            ${CMAKE_BINARY_DIR}/generated/veltrace.ico)
target_link_libraries(tests_program_file PRIVATE veltrace_app gtest version)
add_dependencies(tests_program_file veltrace)
target_compile_definitions(tests_program_file PRIVATE
    VELTRACE_PROGRAM_FILE="$<TARGET_FILE:veltrace>"
    VELTRACE_LICENSE_FILE="Z:${CMAKE_SOURCE_DIR}/LICENSE"
    VELTRACE_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
    VELTRACE_VERSION_MINOR=${PROJECT_VERSION_MINOR})
add_test(NAME tests_program_file COMMAND tests_program_file)
set_tests_properties(tests_program_file PROPERTIES TIMEOUT 120)

# Reads a shell shortcut as Windows does and looks for the program's window, for the installer's
# check (scripts/check-installer.sh).
add_executable(installer-probe windows/installer_probe_win32.cpp)
target_link_options(installer-probe PRIVATE -municode)
target_link_libraries(installer-probe PRIVATE ole32 uuid)

# Not a test: scripts/quit-loop-windows.sh starts veltrace.exe through it again and again and
# ends each run through File / Quit, counting exit statuses and times.
add_executable(veltrace-quit-loop windows/quit_loop_win32.cpp)
target_link_options(veltrace-quit-loop PRIVATE -municode)
