// The main window: its frame, the menu bar and the 58 controls at their fixed numbers.
#include "app/app.h"
#include "app/controls.h"
#include "app/program_icon.h"
#include "display/view_geometry.h"
#include "toolkit/toolkit.h"

#include <array>
#include <string>

namespace veltrace::app {

namespace tk = veltrace::toolkit;

namespace {

constexpr std::array<const char*, PanelRowCount> rowCaptions = {
    "Volts:", "Time(Frq):", "Timebase:", "Trigger:", "Switches:"};

// A channel's block stands beside its strip: 133 rows per channel, as the strips.
constexpr int BlockSpacing = display::StripGeometry.stripSpacing;

void createChannelBlock(int c) {
    const std::string name = "CH" + std::to_string(c + 1);
    tk::optionButtonCreate(optionChannel(c), 540, 10 + BlockSpacing * c, 50, 20, name);
    for (int k = 0; k < PanelRowCount; ++k) {
        tk::labelCreate(panelLabel(c, static_cast<PanelRow>(k)), 540,
                        32 + BlockSpacing * c + 20 * k, 50, 20,
                        rowCaptions[static_cast<std::size_t>(k)], 0);
    }
    for (int k = 0; k < PanelRowCount; ++k) {
        tk::valueTextCreate(panelText(c, static_cast<PanelRow>(k)), 590,
                            30 + BlockSpacing * c + 20 * k, 100, 20);
    }
}

void createPictureDisplay(display::View view, int channel) {
    const display::ViewGeometry& g = display::geometryOf(view);
    tk::imageDisplayCreate(imageControl(view, channel), g.controlLeft, g.controlTopOf(channel),
                           g.controlWidth, g.controlHeight, 1);
}

} // namespace

int openMainWindow() {
    if (!tk::windowOpen(MainWindow, 100, 150, MainWindowWidth, ScreenViewHeight, "Veltrace V1.11",
                        tk::WindowFixedCaption)) {
        return 0;
    }
    if (const tk::Handle icon = tk::imageStore(BitmapIcon, drawProgramIcon())) {
        tk::windowIconSet(MainWindow, icon);
    }
    return 1;
}

void buildMainWindowContents() {
    // A new main window starts without measurements, whatever an earlier one left open.
    resetMeasurements();
    if (tk::menuBarCreate(MainWindow)) {
        tk::menuTitleAdd("File");
        tk::menuItemAdd(MenuComPort, "COM-Port...");
        tk::menuItemAdd(MenuMeasurements, "Measurements...");
        tk::menuSeparatorAdd();
        tk::menuItemAdd(MenuQuit, "&Quit");
        tk::menuTitleAdd("?");
        tk::menuItemAdd(MenuAbout, "About");
    }

    createPictureDisplay(display::View::Screen, 0);

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
        createPictureDisplay(display::View::Strips, c);
    }

    showViewControls(display::View::Screen);
    updateReadoutVisibility();
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
