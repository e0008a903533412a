// The main thread's event loop and every command of the main window, the About window and the
// Measurements window.
//
// Each command runs under the scope lock so the acquisition thread never sees half of it (the
// screen updates take the same recursive lock again). The port change is the exception: its
// dialog, the stop handshake and a possible message box all wait, and the worker needs the lock
// to finish its batch, so that command takes the lock only for its short state updates.
#include "app/app.h"
#include "app/controls.h"
#include "state/scope_state.h"
#include "state/settings.h"
#include "toolkit/toolkit.h"

#include <mutex>

namespace veltrace::app {

namespace tk = veltrace::toolkit;

namespace {

using state::scope;
using Guard = std::lock_guard<std::recursive_mutex>;

// The longest wait of a turn while a cursor line is grabbed.
constexpr int DragWaitMs = 20;

void selectChannel(int k) {
    if (scope.currentChannel != k) {
        endCursorGrab();
    }
    scope.currentChannel = static_cast<std::uint8_t>(k);
    for (int c = 0; c < state::ChannelCount; ++c) {
        tk::controlStateSet(optionChannel(c), c == k ? 1 : 0);
    }
    syncCursorModeButtons();
}

void cursorModeCommand(state::CursorMode m) {
    endCursorGrab();
    state::CursorMode& mode = scope.cursors[scope.currentChannel & 3].cursorMode;
    mode = mode == m ? state::CursorMode::None : m;
    syncCursorModeButtons();
    updateReadoutVisibility();
    redrawCurrentView();
}

// The button shows what the command decided, whatever the click did to it: the acquisition
// thread may have completed the shot (and released the button) between the click and this
// command, which then arms anew.
void singleShotCommand() {
    if (scope.singleShotArmed == 1) {
        scope.singleShotArmed = 0;
        tk::controlStateSet(ButtonSingleShot, 0);
        return;
    }
    scope.singleShotArmed = 1;
    tk::controlStateSet(ButtonSingleShot, 1);
    if (scope.holdDisplay == 1) {
        setHoldDisplay(false);
        tk::controlStateSet(ButtonHold, 0);
    }
}

// Horizontal cursor rows follow the view's vertical scale; columns are the same in both.
void convertCursorRows(display::View from, display::View to) {
    for (state::ChannelCursors& cursors : scope.cursors) {
        cursors.posHLineO = display::convertRow(cursors.posHLineO, display::geometryOf(from),
                                                display::geometryOf(to));
        cursors.posHLineU = display::convertRow(cursors.posHLineU, display::geometryOf(from),
                                                display::geometryOf(to));
    }
}

void toFourChannels() {
    scope.fourChannelView = 1;
    convertCursorRows(display::View::Screen, display::View::Strips);
    showViewControls(display::View::Strips, StripViewHeight);
    for (int c = 0; c < state::ChannelCount; ++c) {
        renderStrip(c);
    }
    // The four-channel view always starts on CH1.
    scope.currentChannel = 0;
}

void toOneChannel() {
    scope.fourChannelView = 0;
    convertCursorRows(display::View::Strips, display::View::Screen);
    scope.currentChannel = 0;
    tk::controlStateSet(optionChannel(0), 1);
    for (int c = 1; c < state::ChannelCount; ++c) {
        tk::controlStateSet(optionChannel(c), 0);
    }
    showViewControls(display::View::Screen, ScreenViewHeight);
    renderScreen();
    syncCursorModeButtons();
}

// The trace stays frozen while the view changes under it; HOLD decides afterwards.
void viewSwitchCommand() {
    const int holdButton = tk::controlStateGet(ButtonHold);
    scope.holdDisplay = 1;
    scope.draggingLine = 0;
    if (scope.fourChannelView == 0) {
        toFourChannels();
    } else {
        toOneChannel();
    }
    setHoldDisplay(holdButton != 0);
    tk::controlStateSet(ButtonChannelMode, scope.fourChannelView);
}

void linkCommand(std::uint8_t& linkFlag, bool horizontal) {
    const int button = horizontal ? ButtonGrH : ButtonGrV;
    if (linkFlag == 1) {
        linkFlag = 0;
        tk::controlStateSet(button, 0);
        return;
    }
    linkFlag = 1;
    tk::controlStateSet(button, 1);
    propagateLinkedCursors(horizontal, !horizontal);
}

void controlCommand(int control, int type) {
    Guard guard(state::scopeLock());
    if (isPictureControl(control)) {
        // A double click (type 1) is not a click here: it would release what its first half
        // just grabbed.
        if (type == 0 &&
            scope.cursors[scope.currentChannel & 3].cursorMode != state::CursorMode::None) {
            cursorClick(control);
        }
        return;
    }
    switch (control) {
    case ButtonHold:
        // Toggles what the program holds, which is not always what the button showed when it
        // was clicked: a single shot completed on the acquisition thread in between presses
        // HOLD too. The button then shows the outcome. While a cursor line is dragged the trace
        // is held whatever the button says, and the release takes the button's state.
        setHoldDisplay(scope.holdDisplay != 1);
        if (scope.draggingLine == 0) {
            tk::controlStateSet(ButtonHold, scope.holdDisplay);
        }
        break;
    case ButtonSingleShot:
        singleShotCommand();
        break;
    case ButtonChannelMode:
        viewSwitchCommand();
        break;
    case ButtonCursorH:
        cursorModeCommand(state::CursorMode::Horizontal);
        break;
    case ButtonCursorV:
        cursorModeCommand(state::CursorMode::Vertical);
        break;
    case ButtonCursorHV:
        cursorModeCommand(state::CursorMode::Both);
        break;
    case ButtonGrV:
        linkCommand(scope.linkVLines, false);
        break;
    case ButtonGrH:
        linkCommand(scope.linkHLines, true);
        break;
    case ButtonCapture:
        captureCurrentView();
        break;
    case ButtonDonate:
        tk::openDocument(donationAddress());
        break;
    case ButtonMeasureReset:
        resetMeasurementStatistics();
        break;
    default:
        for (int c = 0; c < state::ChannelCount; ++c) {
            if (control == optionChannel(c)) {
                selectChannel(c);
            }
        }
        break;
    }
}

// A port chosen in the dialog is stored at once; the device link then restarts from the
// settings file, which is the only way a port reaches it. The lock is taken only around the
// state updates: the dialog runs its own event loop, the stop handshake pauses until the worker
// (which needs the lock) has ended, and connectDevice may show a message box.
void portChangeCommand() {
    const std::optional<std::string> chosen = runPortDialog();
    if (!chosen) {
        return;
    }
    std::string settingsPath;
    {
        Guard guard(state::scopeLock());
        settingsPath = scope.settingsPath;
    }
    state::writeSetting("COM", "COMPort", *chosen, settingsPath);
    closePort();
    stopAcquisition();
    connectDevice();
    redrawCurrentView();
}

void menuCommand(int item) {
    switch (item) {
    case MenuComPort:
        portChangeCommand();
        break;
    case MenuMeasurements:
        openMeasurementsWindow();
        break;
    case MenuQuit: {
        Guard guard(state::scopeLock());
        scope.quitRequested = 1;
        break;
    }
    case MenuAbout: {
        Guard guard(state::scopeLock());
        openAboutWindow();
        break;
    }
    default:
        break;
    }
}

// The toolkit names the window whose close box was used, which gives the same outcome as
// asking for the foreground window.
void closeRequest(int window) {
    if (window == MainWindow) {
        Guard guard(state::scopeLock());
        scope.quitRequested = 1;
    } else if (window == AboutWindow) {
        tk::windowClose(AboutWindow);
    } else if (window == MeasurementsWindow) {
        closeMeasurementsWindow();
    }
}

} // namespace

void dispatchEvent(int event) {
    switch (event) {
    case tk::EventControl:
        controlCommand(tk::eventControl(), tk::eventType());
        break;
    case tk::EventMenu:
        menuCommand(tk::eventMenuItem());
        break;
    case tk::EventClose:
        closeRequest(tk::eventWindow());
        break;
    case tk::EventTerminate: {
        // The system asks us to end (SIGTERM, Ctrl-C, a closed terminal): as Quit.
        Guard guard(state::scopeLock());
        scope.quitRequested = 1;
        break;
    }
    default:
        break;
    }
}

void eventLoopTurn(int idleWaitMs) {
    // A grabbed line follows the pointer on every turn, so then a turn ends after 20 ms without
    // an event. Otherwise a turn without an event does nothing at all, and the wait may go on
    // until something happens: the worker's new pictures reach the window inside the wait
    // anyway, and a request to end is an event of its own.
    bool dragging = false;
    {
        Guard guard(state::scopeLock());
        dragging = scope.draggingLine == 1;
    }
    const int event = tk::eventWait(dragging ? DragWaitMs : idleWaitMs);
    {
        Guard guard(state::scopeLock());
        scope.lastEvent = event;
        if (scope.draggingLine == 1) {
            cursorDragUpdate();
        }
    }
    dispatchEvent(event);
    tk::pause(10);
}

void runEventLoop() {
    for (;;) {
        eventLoopTurn(-1);
        Guard guard(state::scopeLock());
        if (scope.quitRequested == 1) {
            break;
        }
    }
}

} // namespace veltrace::app
