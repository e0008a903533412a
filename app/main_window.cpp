// The main window: its frame, the menu bar and the 58 controls at their fixed numbers.
#include "app/app.h"
#include "app/controls.h"
#include "toolkit/toolkit.h"

#include <cmath>
#include <numbers>

namespace veltrace::app {

namespace tk = veltrace::toolkit;

namespace {

// Image number of the program icon; 0..4 are the screens, 5 the donation picture.
constexpr int BitmapIcon = 6;
constexpr int IconSize = 16;

// A tiny scope face: a dark screen with a grey bezel, a faint centre line and one green sine
// period, so the program is recognisable in a task bar.
tk::Handle makeProgramIcon() {
    if (!tk::imageCreate(BitmapIcon, IconSize, IconSize)) {
        return 0;
    }
    if (!tk::drawingBegin(BitmapIcon)) {
        return 0;
    }
    const std::uint32_t bezel = tk::rgbColour(150, 150, 150);
    const std::uint32_t screen = tk::rgbColour(16, 24, 32);
    const std::uint32_t grid = tk::rgbColour(60, 70, 80);
    const std::uint32_t trace = tk::rgbColour(40, 255, 80);
    for (int y = 1; y < IconSize - 1; ++y) {
        tk::drawLine(1, y, IconSize - 2, y, screen);
    }
    tk::drawLine(0, 0, IconSize - 1, 0, bezel);
    tk::drawLine(0, IconSize - 1, IconSize - 1, IconSize - 1, bezel);
    tk::drawLine(0, 0, 0, IconSize - 1, bezel);
    tk::drawLine(IconSize - 1, 0, IconSize - 1, IconSize - 1, bezel);
    tk::drawLine(1, IconSize / 2, IconSize - 2, IconSize / 2, grid);
    int lastY = 0;
    for (int x = 1; x < IconSize - 1; ++x) {
        const double phase = 2.0 * std::numbers::pi * (x - 1) / (IconSize - 3);
        const int y = IconSize / 2 - static_cast<int>(std::lround(5.0 * std::sin(phase)));
        if (x > 1) {
            tk::drawLine(x - 1, lastY, x, y, trace);
        }
        lastY = y;
    }
    tk::drawingEnd();
    return tk::imageHandle(BitmapIcon);
}

void createChannelBlock(int c) {
    static const char* const rowCaptions[5] = {
        "Volts:", "Time(Frq):", "Timebase:", "Trigger:", "Switches:"};
    const std::string name = "CH" + std::to_string(c + 1);
    tk::optionButtonCreate(optionChannel(c), 540, 10 + 133 * c, 50, 20, name);
    for (int k = 0; k < 5; ++k) {
        tk::labelCreate(labelVolts(c) + k, 540, 32 + 133 * c + 20 * k, 50, 20, rowCaptions[k], 0);
    }
    for (int k = 0; k < 5; ++k) {
        tk::valueTextCreate(textVolts(c) + k, 590, 30 + 133 * c + 20 * k, 100, 20);
    }
}

void hideFourChannelControls() {
    for (int c = 0; c < 4; ++c) {
        tk::controlHide(ImageChannel1 + c, 1);
    }
    for (int c = 0; c < 4; ++c) {
        tk::controlHide(labelVolts(c), 1);
    }
    for (int c = 0; c < 4; ++c) {
        tk::controlHide(labelTime(c), 1);
    }
    for (int c = 0; c < 4; ++c) {
        tk::controlHide(textVolts(c), 1);
    }
    for (int c = 0; c < 4; ++c) {
        tk::controlHide(textTime(c), 1);
    }
    // The Timebase, Trigger and Switches rows (k = 2..4) of CH2..CH4: labels, then value texts.
    for (int k = 2; k < 5; ++k) {
        for (int c = 1; c < 4; ++c) {
            tk::controlHide(labelVolts(c) + k, 1);
        }
        for (int c = 1; c < 4; ++c) {
            tk::controlHide(textVolts(c) + k, 1);
        }
    }
    for (int c = 1; c < 4; ++c) {
        tk::controlHide(optionChannel(c), 1);
    }
    tk::controlHide(ButtonGrV, 1);
    tk::controlHide(ButtonGrH, 1);
}

} // namespace

int openMainWindow() {
    if (!tk::windowOpen(MainWindow, 100, 150, 800, 560, "Veltrace V1.11", tk::WindowFixedCaption)) {
        return 0;
    }
    if (const tk::Handle icon = makeProgramIcon()) {
        tk::windowIconSet(MainWindow, icon);
    }
    return 1;
}

void buildMainWindowContents() {
    if (tk::menuBarCreate(MainWindow)) {
        tk::menuTitleAdd("File");
        tk::menuItemAdd(MenuComPort, "COM-Port...");
        tk::menuSeparatorAdd();
        tk::menuItemAdd(MenuQuit, "&Quit");
        tk::menuTitleAdd("?");
        tk::menuItemAdd(MenuAbout, "About");
    }

    tk::imageDisplayCreate(ImageScreen, 10, 10, 508, 512, 1);

    tk::toggleButtonCreate(ButtonGrV, 745, 40, 40, 25, "GR_V");
    tk::toggleButtonCreate(ButtonGrH, 700, 40, 40, 25, "GR_H");
    tk::toggleButtonCreate(ButtonChannelMode, 700, 80, 85, 25, "1CH<->4CH");
    tk::toggleButtonCreate(ButtonCursorH, 700, 10, 25, 25, "=");
    tk::toggleButtonCreate(ButtonCursorV, 730, 10, 25, 25, "||");
    tk::toggleButtonCreate(ButtonCursorHV, 760, 10, 25, 25, "#");
    tk::toggleButtonCreate(ButtonHold, 700, 120, 85, 25, "HOLD");
    tk::toggleButtonCreate(ButtonSingleShot, 700, 160, 85, 25, "SINGLE SHOT");
    tk::pushButtonCreate(ButtonCapture, 700, 200, 85, 25, "CAPTURE");

    // Each option button follows a label or value text, so each is a group of its own; the
    // channel command clears the other three itself.
    for (int c = 0; c < 4; ++c) {
        createChannelBlock(c);
    }

    for (int c = 0; c < 4; ++c) {
        tk::imageDisplayCreate(ImageChannel1 + c, 10, 10 + 133 * c, 512, 128, 1);
    }

    hideFourChannelControls();
    tk::controlStateSet(optionChannel(0), 1);
}

int buildMainWindow() {
    if (!openMainWindow()) {
        return 0;
    }
    buildMainWindowContents();
    return 1;
}

} // namespace veltrace::app
