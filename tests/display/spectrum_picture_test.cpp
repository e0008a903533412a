// The spectrum's picture: drawn over any earlier picture it must come out as a picture drawn from
// nothing, and that one as the bars were first drawn, line by line (the reference below).
#include "display/spectrum_picture.h"

#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace veltrace;
namespace tk = veltrace::toolkit;

constexpr int Lines = 65;
constexpr int Width = display::spectrumWidth(Lines);
constexpr int Height = display::SpectrumHeight;
constexpr std::uint32_t Blue = tk::rgbColour(0, 0, 255);
constexpr std::uint32_t Yellow = tk::rgbColour(255, 255, 0);

tk::Image blank() {
    tk::Image image;
    image.width = Width;
    image.height = Height;
    image.rgb.assign(static_cast<std::size_t>(Width) * Height * 3, 0);
    return image;
}

// The picture drawn the plain way: the grid across, each bar as four vertical lines, the mark as
// four shrinking horizontal lines above the strongest bar.
tk::Image reference(const display::SpectrumBars& bars) {
    tk::Image image = blank();
    for (int row = display::SpectrumRowsPerDivision; row < Height;
         row += display::SpectrumRowsPerDivision) {
        tk::drawLine(image, 0, row, Width - 1, row, tk::rgbColour(0, 72, 0));
    }
    for (std::size_t line = 0; line < bars.tops.size(); ++line) {
        const int top = bars.tops[line];
        const int left = static_cast<int>(line) * 8 + 2;
        const bool strongest = static_cast<int>(line) == bars.strongest;
        if (top < Height) {
            for (int x = left; x < left + 4; ++x) {
                tk::drawLine(image, x, top, x, Height - 1,
                             strongest ? tk::rgbColour(255, 255, 255) : bars.colour);
            }
        }
        if (strongest) {
            for (int k = 0; k < 4; ++k) {
                tk::drawLine(image, left - 2 + k, top - 6 + k, left + 5 - k, top - 6 + k,
                             tk::rgbColour(255, 64, 64));
            }
        }
    }
    return image;
}

display::SpectrumBars randomBars(std::mt19937& random, const display::SpectrumBars& before) {
    display::SpectrumBars bars = before;
    if (bars.tops.empty() || random() % 20 == 0) {
        bars.tops.assign(Lines, 0);
        for (int& top : bars.tops) {
            top = static_cast<int>(random() % (Height + 1));
        }
    } else {
        // Most frames: a few rows of jitter on most lines, as noise gives.
        for (int& top : bars.tops) {
            const int step = static_cast<int>(random() % 7) - 3;
            top = std::clamp(top + step, 0, Height - 1);
        }
    }
    if (random() % 4 == 0) {
        bars.strongest = static_cast<int>(random() % (Lines + 1)) - 1;
    }
    if (random() % 30 == 0) {
        bars.colour = bars.colour == Blue ? Yellow : Blue;
    }
    if (random() % 40 == 0) {
        bars.tops.clear(); // a frame with no spectrum
        bars.strongest = -1;
    }
    return bars;
}

TEST(SpectrumPicture, DrawnFromNothingItIsTheBarsGridAndMarkPixelForPixel) {
    display::SpectrumBars bars;
    bars.colour = Blue;
    for (int line = 0; line < Lines; ++line) {
        bars.tops.push_back((line * 37) % Height);
    }
    // The strongest line at the top rows (the mark cut off), in the middle, and at either end.
    for (const int strongest : {-1, 0, 3, 20, Lines - 1}) {
        bars.strongest = strongest;
        bars.tops[3] = 2;
        tk::Image image = blank();
        display::SpectrumFootprint footprint;
        ASSERT_TRUE(display::redrawSpectrum(image, bars, footprint));
        EXPECT_EQ(image.rgb, reference(bars).rgb) << "strongest line " << strongest;
    }
    // No spectrum: the grid alone; a picture holding anything else is painted over whole.
    display::SpectrumBars none;
    tk::Image image = blank();
    std::fill(image.rgb.begin(), image.rgb.end(), std::uint8_t{0x5A});
    display::SpectrumFootprint footprint;
    ASSERT_TRUE(display::redrawSpectrum(image, none, footprint));
    EXPECT_EQ(image.rgb, reference(none).rgb);
}

// Three pictures drawn over in turn, as the window's buffers are: each must come out as the
// reference of its bars, whatever it held before.
TEST(SpectrumPicture, DrawnOverAnEarlierPictureItEqualsOneDrawnFromNothing) {
    std::mt19937 random(20261209);
    std::vector<tk::Image> pictures(3, blank());
    std::vector<display::SpectrumFootprint> footprints(3);
    display::SpectrumBars bars;
    bars.colour = Blue;
    for (int frame = 0; frame < 600; ++frame) {
        bars = randomBars(random, bars);
        const std::size_t which = static_cast<std::size_t>(frame) % pictures.size();
        ASSERT_TRUE(display::redrawSpectrum(pictures[which], bars, footprints[which]));
        ASSERT_EQ(pictures[which].rgb, reference(bars).rgb) << "frame " << frame;
    }
}

TEST(SpectrumPicture, APictureOfNoPixelsIsRefusedAndLinesBeyondThePictureAreLeftOut) {
    display::SpectrumBars bars;
    bars.colour = Blue;
    bars.tops.assign(Lines + 10, 50);
    bars.strongest = Lines + 5;
    tk::Image none;
    display::SpectrumFootprint footprint;
    EXPECT_FALSE(display::redrawSpectrum(none, bars, footprint));
    EXPECT_FALSE(footprint.valid);

    tk::Image image = blank();
    ASSERT_TRUE(display::redrawSpectrum(image, bars, footprint));
    display::SpectrumBars inside = bars;
    inside.tops.resize(Lines);
    inside.strongest = -1;
    EXPECT_EQ(image.rgb, reference(inside).rgb);
}

} // namespace
