// The spectrum as the Measurements window shows it: a bar for each line of the spectrum, from its
// level down to the bottom, on a grid of one row every ten decibels, the strongest line white
// with a red mark above it. Drawn again over a picture of an earlier frame, only the columns of
// lines whose bar moved are touched, and in those only the rows between the two bars' tops: a
// spectrum mostly keeps its shape from frame to frame.
#pragma once

#include "toolkit/toolkit.h"

#include <cstdint>
#include <vector>

namespace veltrace::display {

inline constexpr int SpectrumColumnsPerLine = 8; // the bar stands in the middle four
inline constexpr int SpectrumRowsPerDivision = 20;
inline constexpr int SpectrumHeight = 140;

constexpr int spectrumWidth(int lines) {
    return lines * SpectrumColumnsPerLine;
}

struct SpectrumBars {
    std::uint32_t colour = 0; // the bars' colour; the strongest line's is white
    std::vector<int> tops;    // per line, its bar's first row (SpectrumHeight: no bar)
    int strongest = -1;       // the line marked, -1: none
};

// What a picture holds, for the next drawing over it.
struct SpectrumFootprint {
    bool valid = false; // false: unknown, the next drawing paints every pixel
    SpectrumBars bars;
};

// Draws the bars into the picture (as wide as spectrumWidth of the line count, SpectrumHeight
// high), over what its footprint says it holds, and makes the footprint say what it holds now.
// Lines beyond the picture are left out; false, and nothing drawn, for a picture of no pixels.
bool redrawSpectrum(toolkit::Image& image, const SpectrumBars& bars, SpectrumFootprint& footprint);

} // namespace veltrace::display
