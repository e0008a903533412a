// Requests from the system to end the program on Windows: the console's Ctrl-C, Ctrl-Break and
// close (for a program that has a console; under Wine, SIGINT from the terminal arrives as
// Ctrl-C), and the end of the session (log-off, shut-down), which reaches our top-level windows
// as WM_QUERYENDSESSION and WM_ENDSESSION. Either way a flag is set and the GUI thread is woken
// with a message to the toolkit's hidden window, which also ends a message box that is open; the
// program's event wait then reports the request and the program runs its own end sequence.
#include "toolkit/toolkit.h"
#include "toolkit/win32_internal.h"

#include <atomic>

namespace veltrace::toolkit {

namespace {

std::atomic<bool> catching{false};
std::atomic<bool> requested{false};

void noteRequest() {
    requested = true;
    win32::wakeForTermination();
}

// Runs on a thread of its own that the system starts for each console event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        noteRequest();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        noteRequest();
        // The system ends the process as soon as this returns: the end sequence gets the few
        // seconds the system allows. The program's own exit ends this thread with it.
        Sleep(5000);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void catchTerminationRequests() {
    if (!catching.exchange(true)) {
        SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    }
}

bool terminationRequested() {
    return requested.load();
}

namespace win32 {

void sessionEnding() {
    if (catching.load()) {
        noteRequest();
    }
}

} // namespace win32

} // namespace veltrace::toolkit
