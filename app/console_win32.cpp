// Command-line output on Windows. veltrace.exe is a GUI program, so it starts with no console;
// for --help, --version and --list-ports it attaches to the console of the command prompt that
// started it (if any) and points stdout and stderr there. Output already redirected to a file
// or pipe stays where it is.
#include "app/console.h"

#include <windows.h>

#include <cstdio>

namespace veltrace::app {

namespace {

bool redirected(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

} // namespace

void useStartingConsole() {
    const bool outRedirected = redirected(STD_OUTPUT_HANDLE);
    const bool errRedirected = redirected(STD_ERROR_HANDLE);
    if (outRedirected && errRedirected) {
        return;
    }
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    if (!outRedirected) {
        std::freopen("CONOUT$", "w", stdout);
    }
    if (!errRedirected) {
        std::freopen("CONOUT$", "w", stderr);
    }
}

const char* portHelpText() {
    return "Ports: COM1-COM16 are the Windows serial ports of those names (a USB adapter shows\n"
           "its number in the Device Manager under \"Ports (COM & LPT)\").\n";
}

const char* windowSystemAdvice() {
    return "; run it in a user's desktop session";
}

} // namespace veltrace::app
