// Numbers of the windows, controls, menu items, images and fonts of the program.
#pragma once

#include "display/view_geometry.h"
#include "state/scope_state.h"

namespace veltrace::app {

inline constexpr int MainWindow = 0;
// The main window's inner size: 800 wide, 560 high in the one-channel view and 575 in the
// four-channel view (menu bar included).
inline constexpr int MainWindowWidth = 800;
inline constexpr int ScreenViewHeight = 560;
inline constexpr int StripViewHeight = 575;
inline constexpr int AboutWindow = 1;
inline constexpr int PortDialog = 1;
inline constexpr int MeasurementsWindow = 2;

inline constexpr int MenuComPort = 1;
inline constexpr int MenuMeasurements = 2;
inline constexpr int MenuQuit = 7;
inline constexpr int MenuAbout = 11;

inline constexpr int ButtonCapture = 1;
inline constexpr int ButtonSingleShot = 2;
inline constexpr int ButtonChannelMode = 3;
inline constexpr int ButtonGrV = 4;
inline constexpr int ButtonGrH = 5;
inline constexpr int ButtonCursorH = 6;
inline constexpr int ButtonCursorV = 7;
inline constexpr int ButtonCursorHV = 8;
inline constexpr int ImageScreen = 10;
inline constexpr int ImageChannel1 = 11; // ImageChannel1 + c for channel c
inline constexpr int ButtonHold = 15;

// The button of a cursor mode: "=" for the horizontal pair, "||" for the vertical, "#" for both.
inline constexpr int cursorModeButton(state::CursorMode mode) {
    switch (mode) {
    case state::CursorMode::Horizontal:
        return ButtonCursorH;
    case state::CursorMode::Vertical:
        return ButtonCursorV;
    case state::CursorMode::Both:
        return ButtonCursorHV;
    case state::CursorMode::None:
        break;
    }
    return 0;
}
inline constexpr state::CursorMode CursorModes[] = {
    state::CursorMode::Horizontal, state::CursorMode::Vertical, state::CursorMode::Both};

inline constexpr bool isPictureControl(int control) {
    return control == ImageScreen || (control >= ImageChannel1 && control < ImageChannel1 + 4);
}

// The picture display that shows channel c in a view.
inline constexpr int imageControl(display::View view, int channel) {
    return view == display::View::Screen ? ImageScreen : ImageChannel1 + channel;
}

// Each channel c (0..3) has a block of eleven controls: its option button, then a label and a
// value text for each of five rows.
enum class PanelRow { Volts = 0, Time = 1, Timebase = 2, Trigger = 3, Switches = 4 };
inline constexpr int PanelRowCount = 5;

inline constexpr int optionChannel(int c) {
    return 16 + 11 * c;
}
inline constexpr int panelText(int c, PanelRow row) {
    return 17 + 11 * c + static_cast<int>(row);
}
inline constexpr int panelLabel(int c, PanelRow row) {
    return 22 + 11 * c + static_cast<int>(row);
}

// Port dialog and About window controls.
inline constexpr int ComboPorts = 60;
inline constexpr int TextNoPorts = 61;
inline constexpr int ButtonOk = 62;
inline constexpr int TextAbout = 63;
inline constexpr int ButtonDonate = 64;

// The Measurements window's controls. Each measurement q (0..9, in measure::AllQuantities order)
// has a row: its name, then its value, minimum, maximum and mean.
inline constexpr int ButtonMeasureReset = 100;
inline constexpr int TextMeasureChannel = 101;
inline constexpr int TextMeasureFrames = 102;
inline constexpr int LabelMeasureColumn = 103; // + k for the column headers Value, Min, Max, Mean
inline constexpr int LabelReading = 107;
inline constexpr int TextReading = 108;
inline constexpr int TextReadingMark = 109;
inline constexpr int LabelSpectrum = 110;
inline constexpr int ImageSpectrum = 111;
inline constexpr int TextSpectrumScale = 112;
inline constexpr int TextSpectrumLeft = 113;
inline constexpr int TextSpectrumRight = 114;
inline constexpr int TextSpectrumPeak = 115;
inline constexpr int MeasureColumns = 4; // value, minimum, maximum, mean
enum class MeasureColumn { Value = 0, Minimum = 1, Maximum = 2, Mean = 3 };
inline constexpr int measureLabel(int q) {
    return 120 + 5 * q;
}
inline constexpr int measureText(int q, MeasureColumn column) {
    return 121 + 5 * q + static_cast<int>(column);
}

// Images: 0 the one-channel screen, 1..4 the channel strips, 5 the donation picture, 6 the icon,
// 7 the spectrum.
inline constexpr int BitmapScreen = 0;
inline constexpr int BitmapChannel1 = 1; // BitmapChannel1 + c for channel c
inline constexpr int BitmapDonate = 5;
inline constexpr int BitmapIcon = 6;
inline constexpr int BitmapSpectrum = 7;

// The image a view's picture of channel c is kept under.
inline constexpr int viewImage(display::View view, int channel) {
    return view == display::View::Screen ? BitmapScreen : BitmapChannel1 + channel;
}

inline constexpr int FontCapture = 1;

} // namespace veltrace::app
