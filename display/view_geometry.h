// The geometry of the two views, in one record each: where a channel's picture stands in the
// window, how big it is, its vertical scale, its grid, where a capture's text goes, and how
// cursor rows convert between the views. Drawing, the readout, the cursors, the event loop and
// the main window all take their numbers from here.
#pragma once

#include "state/scope_state.h"

#include <array>
#include <cstdint>

namespace veltrace::display {

enum class View { Screen, Strips };

// Every picture display has a sunken edge this wide: the picture starts this far right of and
// below the control's corner.
inline constexpr int SunkenEdge = 2;

// Samples are 4 columns apart in both views; 128 of them are drawn.
inline constexpr int PixelsPerSample = 4;
inline constexpr int SamplesDrawn = 128;

// Cursor lines stay within these picture coordinates in both views.
inline constexpr int LowestCursorPosition = 0;
inline constexpr int HighestCursorPosition = 511;

struct ViewGeometry {
    View view;
    // The picture display of channel 0, in the window's area below the menu bar; channel c's
    // stands stripSpacing rows further down (one picture for all channels: spacing 0).
    int controlLeft;
    int controlTop;
    int controlWidth;
    int controlHeight;
    int stripSpacing;
    // The picture itself.
    int width;
    int height;
    // Vertical scale: sample value v lies at row height - v * rowsPerStep.
    int rowsPerStep;
    std::array<int, 4> halfDivisionRows;
    std::array<int, 5> divisionRows;
    // Trace colour of each channel (colour integers: red in the lowest byte).
    std::array<std::uint32_t, state::ChannelCount> traceColours;
    // A capture's two text lines, top-left corners of their cells.
    int overlayX;
    int overlayFirstY;
    int overlaySecondY;
    // Horizontal cursor rows of this view are those of the one-channel screen divided by this
    // (integer division on the way in, multiplication on the way back).
    int rowDivisor;

    // Top-left pixel of channel c's picture in the window's area below the menu bar.
    constexpr int originX() const { return controlLeft + SunkenEdge; }
    constexpr int originY(int channel) const {
        return controlTop + SunkenEdge + stripSpacing * channel;
    }
    constexpr int controlTopOf(int channel) const { return controlTop + stripSpacing * channel; }
};

inline constexpr std::uint32_t Yellow = 0x00FFFF;

inline constexpr ViewGeometry ScreenGeometry{View::Screen,
                                             10,
                                             10,
                                             508,
                                             512,
                                             0,
                                             508,
                                             512,
                                             8,
                                             {100, 204, 308, 412},
                                             {48, 152, 256, 360, 464},
                                             {Yellow, Yellow, Yellow, Yellow},
                                             5,
                                             5,
                                             495,
                                             1};

// 128 rows of picture and a 5-row gap between strips.
inline constexpr ViewGeometry StripGeometry{View::Strips,
                                            10,
                                            10,
                                            512,
                                            128,
                                            133,
                                            508,
                                            128,
                                            2,
                                            {25, 51, 77, 103},
                                            {12, 38, 64, 90, 116},
                                            {Yellow, 0x0000FF, 0x00FF00, 0xFF9900},
                                            5,
                                            0,
                                            115,
                                            4};

inline constexpr const ViewGeometry& geometryOf(View view) {
    return view == View::Screen ? ScreenGeometry : StripGeometry;
}

// A horizontal cursor row moved from one view to the other.
inline constexpr std::int16_t convertRow(std::int16_t row, const ViewGeometry& from,
                                         const ViewGeometry& to) {
    return static_cast<std::int16_t>(row * from.rowDivisor / to.rowDivisor);
}

} // namespace veltrace::display
