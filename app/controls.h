// Numbers of the windows, controls, menu items, images and fonts of the program.
#pragma once

namespace veltrace::app {

inline constexpr int MainWindow = 0;
inline constexpr int AboutWindow = 1;
inline constexpr int PortDialog = 1;

inline constexpr int MenuComPort = 1;
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

// Channel blocks: 11 controls per channel c (0..3).
inline constexpr int optionChannel(int c) {
    return 16 + 11 * c;
}
inline constexpr int textVolts(int c) {
    return 17 + 11 * c;
}
inline constexpr int textTime(int c) {
    return 18 + 11 * c;
}
inline constexpr int textTimebase(int c) {
    return 19 + 11 * c;
}
inline constexpr int textTrigger(int c) {
    return 20 + 11 * c;
}
inline constexpr int textSwitches(int c) {
    return 21 + 11 * c;
}
inline constexpr int labelVolts(int c) {
    return 22 + 11 * c;
}
inline constexpr int labelTime(int c) {
    return 23 + 11 * c;
}
inline constexpr int labelTimebase(int c) {
    return 24 + 11 * c;
}
inline constexpr int labelTrigger(int c) {
    return 25 + 11 * c;
}
inline constexpr int labelSwitches(int c) {
    return 26 + 11 * c;
}

// Port dialog and About window controls.
inline constexpr int ComboPorts = 60;
inline constexpr int TextNoPorts = 61;
inline constexpr int ButtonOk = 62;
inline constexpr int TextAbout = 63;
inline constexpr int ButtonDonate = 64;

// Images: 0 the one-channel screen, 1..4 the channel strips, 5 the donation picture.
inline constexpr int BitmapScreen = 0;
inline constexpr int BitmapChannel1 = 1; // BitmapChannel1 + c for channel c
inline constexpr int BitmapDonate = 5;

inline constexpr int FontCapture = 1;

} // namespace veltrace::app
