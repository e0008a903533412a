// The scope display: the one-channel screen, the four channel strips, the measurement readout
// and capture files. Every function here takes the scope lock itself.
#pragma once

#include <cstdint>
#include <string>

namespace veltrace::display {

// Draws the one-channel screen (image 0) for currentChannel and hands it to ImageScreen, sets the
// channel-1 panel texts, recomputes the readout and completes an armed single shot. With
// capture 1 the overlay is drawn and the image saved as a capture file first.
void renderScreen(int capture);
// The same for the 508 x 128 strip of currentChannel (image and display currentChannel + 1).
void renderStrip(int capture);
// renderScreen in the one-channel view, else renderStrip for currentChannel.
void redrawCurrentView(int capture);

// Volts and Time(Frq) readouts of currentChannel into the scope state and the value controls.
void updateReadout();

// "%yyyy-%mm-%dd_%hh-%ii-%ss" of the date number + "_CH" + (channel + 1) + ".PNG".
std::string captureFileName(std::int64_t dateNumber, int channel);

// The capture steps the renderers call (capture.cpp). The overlay is drawn into the drawing that
// is open on the calling thread, for `channel`, with its two lines at the given rows.
void drawCaptureOverlay(int channel, int firstLineY, int secondLineY);
// Saves image `imageNumber` as captureFileName(dateNow(), channel) in the working directory.
void saveCapture(int imageNumber, int channel);

// Geometry of the two views, shared by the renderer, the capture overlay and the cursors.
inline constexpr int ScreenWidth = 508;
inline constexpr int ScreenHeight = 512;
inline constexpr int StripHeight = 128;

} // namespace veltrace::display
