// Start-up and shutdown: the order in which the program comes up and goes down.
#include "app/app.h"
#include "app/console.h"
#include "app/controls.h"
#include "display/capture.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace veltrace::app {

namespace tk = veltrace::toolkit;

namespace {

// The window system could not be reached inside the toolkit's start, which cannot return: one
// line, and a failure status, never an abort.
[[noreturn]] void windowSystemUnreachable(const std::string& whatFailed) {
    std::fprintf(stderr, "veltrace: %s%s\n", whatFailed.c_str(), windowSystemAdvice());
    std::fflush(stderr);
    std::_Exit(ExitNoWindowSystem);
}

// Starts the toolkit, saying so when no window system can be reached.
bool windowSystemReady() {
    // SIGTERM, SIGINT and SIGHUP (on Windows: the console's Ctrl-C and close, the end of the
    // session) end the program through its own end sequence, like Quit.
    tk::catchTerminationRequests();
    tk::setStartFailureHandler(windowSystemUnreachable);
    if (!tk::toolkitInit()) {
        std::fprintf(stderr,
                     "veltrace: no graphical display found (DISPLAY and WAYLAND_DISPLAY are "
                     "unset)%s\n",
                     windowSystemAdvice());
        return false;
    }
    return true;
}

// VELTRACE_MEASUREMENTS set and not 0: the Measurements window opens with the main window (for
// a session that wants it from the first frame, and for the floor measurement with it open).
bool measurementsWantedAtStart() {
    const char* wanted = std::getenv("VELTRACE_MEASUREMENTS");
    return wanted != nullptr && wanted[0] != '\0' && std::strcmp(wanted, "0") != 0;
}

// Everything after the toolkit's start: 1 with the main window up and the device connected, 0
// when the main window could not be opened (the toolkit is then ended).
int openProgramWindow() {
    state::resetScopeState();
    probePorts();
    tk::fontLoad(FontCapture, display::CaptureFontFace, display::CaptureFontPoints);
    if (!openMainWindow()) {
        tk::toolkitEnd();
        return 0;
    }
    // The device link comes up before the controls exist: a port that cannot be opened is
    // reported now, and a frame drawn meanwhile lands on control numbers that are still free.
    connectDevice();
    buildMainWindowContents();
    {
        std::lock_guard<std::recursive_mutex> guard(state::scopeLock());
        state::ScopeState& scope = state::scope;
        scope.fourChannelView = 0;
        scope.currentChannel = 0;
        scope.holdDisplay = 0;
        scope.draggingLine = 0;
        scope.linkHLines = 0;
        scope.linkVLines = 0;
    }
    renderScreen();
    return 1;
}

} // namespace

int startUpSequence() {
    if (!windowSystemReady()) {
        return -1;
    }
    return openProgramWindow();
}

void endSequence() {
    // The worker is waited for until it has closed its port and returned (at most two seconds;
    // one stuck in the system is ended with the process).
    stopAcquisitionShort();
    finishStream();
    tk::toolkitEnd();
}

int startUp() {
    // The display is checked before a recording is made, so a start that cannot show a window
    // leaves no empty recording behind; a recording or replay that cannot be had ends the
    // start before any window opens.
    if (!windowSystemReady()) {
        return ExitNoWindowSystem;
    }
    if (!prepareStream()) {
        tk::toolkitEnd();
        return ExitStreamUnavailable;
    }
    if (openProgramWindow() == 0) {
        finishStream();
        return 0;
    }
    if (measurementsWantedAtStart()) {
        openMeasurementsWindow();
    }
    runEventLoop();
    endSequence();
    return 0;
}

} // namespace veltrace::app
