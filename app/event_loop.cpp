// The main thread's event loop and every command of the main window and the About window.
//
// Each command runs under the scope lock so the acquisition thread never sees half of it (the
// renderers take the same recursive lock again). The port change is the exception: its dialog,
// the stop handshake and a possible message box all wait, and the worker needs the lock to
// finish its batch, so that command takes the lock only for its short state updates.
#include "app/app.h"
#include "app/controls.h"
#include "app/scope_state.h"
#include "display/display.h"
#include "link/acquisition.h"
#include "link/port_dialog.h"
#include "link/serial_port.h"
#include "toolkit/toolkit.h"

#include <mutex>

namespace veltrace::app {

namespace tk = veltrace::toolkit;

namespace {

using Guard = std::lock_guard<std::recursive_mutex>;

// The three cursor mode buttons, by mode 1..3.
constexpr int cursorModeButton(int mode) {
    return mode == 1 ? ButtonCursorH : (mode == 2 ? ButtonCursorV : ButtonCursorHV);
}

void selectChannel(int k) {
    if (scope.currentChannel != k) {
        endCursorGrab();
    }
    scope.currentChannel = static_cast<std::uint8_t>(k);
    for (int c = 0; c < ChannelCount; ++c) {
        if (c != k) {
            tk::controlStateSet(optionChannel(c), 0);
        }
    }
    syncCursorModeButtons();
}

void cursorModeCommand(int m) {
    endCursorGrab();
    const int c = scope.currentChannel;
    if (scope.cursorMode[c] == m) {
        scope.cursorMode[c] = 0;
        tk::controlStateSet(cursorModeButton(m), 0);
    } else {
        scope.cursorMode[c] = static_cast<std::uint8_t>(m);
        for (int other = 1; other <= 3; ++other) {
            if (other != m) {
                tk::controlStateSet(cursorModeButton(other), 0);
            }
        }
    }
    updateReadoutVisibility();
    display::redrawCurrentView(0);
}

void singleShotCommand() {
    if (scope.singleShotArmed == 1) {
        scope.singleShotArmed = 0;
        return;
    }
    scope.singleShotArmed = 1;
    if (scope.holdDisplay == 1) {
        scope.holdDisplay = 0;
        tk::controlStateSet(ButtonHold, 0);
    }
}

void showReadoutRows(int c, int hide) {
    for (int k = 0; k < 2; ++k) {
        tk::controlHide(labelVolts(c) + k, hide);
        tk::controlHide(textVolts(c) + k, hide);
    }
}

void toFourChannels() {
    scope.fourChannelView = 1;
    for (int c = 0; c < ChannelCount; ++c) {
        scope.posHLineO[c] = static_cast<std::int16_t>(scope.posHLineO[c] / 4);
        scope.posHLineU[c] = static_cast<std::int16_t>(scope.posHLineU[c] / 4);
    }
    tk::controlHide(ImageScreen, 1);
    tk::windowResize(MainWindow, tk::KeepCoordinate, tk::KeepCoordinate, 800, 575);
    for (int c = 0; c < ChannelCount; ++c) {
        tk::controlHide(ImageChannel1 + c, 0);
    }
    // Channels 2..4 with cursors show both readout rows whatever their mode; the per-mode rule
    // applies again at their next mode command.
    for (int c = 1; c < ChannelCount; ++c) {
        if (scope.cursorMode[c] != 0) {
            showReadoutRows(c, 0);
        }
    }
    for (int c = 1; c < ChannelCount; ++c) {
        for (int k = 2; k < 5; ++k) {
            tk::controlHide(labelVolts(c) + k, 0);
            tk::controlHide(textVolts(c) + k, 0);
        }
        tk::controlHide(optionChannel(c), 0);
    }
    tk::controlHide(ButtonGrV, 0);
    tk::controlHide(ButtonGrH, 0);
    for (int c = 0; c < ChannelCount; ++c) {
        scope.currentChannel = static_cast<std::uint8_t>(c);
        display::renderStrip(0);
    }
    scope.currentChannel = 0;
}

void toOneChannel() {
    scope.fourChannelView = 0;
    for (int c = 0; c < ChannelCount; ++c) {
        scope.posHLineO[c] = static_cast<std::int16_t>(scope.posHLineO[c] * 4);
        scope.posHLineU[c] = static_cast<std::int16_t>(scope.posHLineU[c] * 4);
    }
    scope.currentChannel = 0;
    tk::controlStateSet(optionChannel(0), 1);
    for (int c = 1; c < ChannelCount; ++c) {
        tk::controlStateSet(optionChannel(c), 0);
    }
    for (int c = 0; c < ChannelCount; ++c) {
        tk::controlHide(ImageChannel1 + c, 1);
    }
    for (int c = 1; c < ChannelCount; ++c) {
        for (int k = 0; k < 5; ++k) {
            tk::controlHide(labelVolts(c) + k, 1);
            tk::controlHide(textVolts(c) + k, 1);
        }
        tk::controlHide(optionChannel(c), 1);
    }
    tk::controlHide(ButtonGrV, 1);
    tk::controlHide(ButtonGrH, 1);
    tk::windowResize(MainWindow, tk::KeepCoordinate, tk::KeepCoordinate, 800, 560);
    tk::controlHide(ImageScreen, 0);
    display::renderScreen(0);
    syncCursorModeButtons();
}

void viewSwitchCommand() {
    const int holdButton = tk::controlStateGet(ButtonHold);
    scope.holdDisplay = 1;
    scope.draggingLine = 0;
    if (scope.fourChannelView == 0) {
        toFourChannels();
    } else {
        toOneChannel();
    }
    scope.holdDisplay = static_cast<std::uint8_t>(holdButton);
}

void linkCommand(std::uint8_t& linkFlag, bool horizontal) {
    if (linkFlag == 1) {
        linkFlag = 0;
        return;
    }
    linkFlag = 1;
    propagateLinkedCursors(horizontal, !horizontal);
}

void controlCommand(int control, int type) {
    Guard guard(scopeLock());
    switch (control) {
    case ImageScreen:
    case ImageChannel1:
    case ImageChannel1 + 1:
    case ImageChannel1 + 2:
    case ImageChannel1 + 3:
        // A double click (type 1) is not a click here: it would release what its first half
        // just grabbed.
        if (type == 0 && scope.cursorMode[scope.currentChannel] != 0) {
            cursorClick(control);
        }
        break;
    case ButtonHold:
        scope.holdDisplay = scope.holdDisplay == 1 ? 0 : 1;
        break;
    case ButtonSingleShot:
        singleShotCommand();
        break;
    case ButtonChannelMode:
        viewSwitchCommand();
        break;
    case ButtonCursorH:
        cursorModeCommand(1);
        break;
    case ButtonCursorV:
        cursorModeCommand(2);
        break;
    case ButtonCursorHV:
        cursorModeCommand(3);
        break;
    case ButtonGrV:
        linkCommand(scope.linkVLines, false);
        break;
    case ButtonGrH:
        linkCommand(scope.linkHLines, true);
        break;
    case ButtonCapture:
        display::redrawCurrentView(1);
        display::redrawCurrentView(0);
        break;
    case ButtonDonate:
        tk::openDocument(donationAddress());
        break;
    default:
        for (int c = 0; c < ChannelCount; ++c) {
            if (control == optionChannel(c)) {
                selectChannel(c);
            }
        }
        break;
    }
}

// The lock is taken only around the state updates: the dialog runs its own event loop,
// stopAcquisition pauses until the worker (which needs the lock) has ended, and connectDevice
// may show a message box.
void portChangeCommand() {
    link::runPortDialog();
    {
        Guard guard(scopeLock());
        if (scope.portSelectionChanged != 1) {
            return;
        }
    }
    link::closePort(scope.portConfig);
    {
        Guard guard(scopeLock());
        scope.portSelectionChanged = 0;
    }
    link::stopAcquisition();
    link::connectDevice();
    Guard guard(scopeLock());
    display::redrawCurrentView(0);
}

void menuCommand(int item) {
    switch (item) {
    case MenuComPort:
        portChangeCommand();
        break;
    case MenuQuit: {
        Guard guard(scopeLock());
        scope.quitRequested = 1;
        break;
    }
    case MenuAbout: {
        Guard guard(scopeLock());
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
        Guard guard(scopeLock());
        scope.quitRequested = 1;
    } else if (window == AboutWindow) {
        tk::windowClose(AboutWindow);
    }
}

} // namespace

void syncCursorModeButtons() {
    const int mode = scope.cursorMode[scope.currentChannel];
    for (int m = 1; m <= 3; ++m) {
        tk::controlStateSet(cursorModeButton(m), mode == m ? 1 : 0);
    }
}

void updateReadoutVisibility() {
    const int c = scope.currentChannel;
    const int mode = scope.cursorMode[c];
    const bool volts = mode == 1 || mode == 3;
    const bool time = mode == 2 || mode == 3;
    tk::controlHide(labelVolts(c), volts ? 0 : 1);
    tk::controlHide(textVolts(c), volts ? 0 : 1);
    tk::controlHide(labelTime(c), time ? 0 : 1);
    tk::controlHide(textTime(c), time ? 0 : 1);
}

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
    default:
        break;
    }
}

void eventLoopTurn() {
    const int event = tk::eventWait(20);
    {
        Guard guard(scopeLock());
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
        eventLoopTurn();
        Guard guard(scopeLock());
        if (scope.quitRequested == 1) {
            break;
        }
    }
}

} // namespace veltrace::app
