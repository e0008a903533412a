// The one-channel screen and the channel strips, checked pixel by pixel in the pictures the
// display layer draws.
#include "display/draw.h"

#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

using namespace veltrace;

constexpr std::int64_t Trace = 0x00FFFF;
constexpr std::int64_t Cursor = 0xFFFF33;
constexpr std::int64_t HalfDivision = 0x444444;
constexpr std::int64_t Division = 0x888888;
constexpr std::array<std::int64_t, 4> StripTrace = {0x00FFFF, 0x0000FF, 0x00FF00, 0xFF9900};

// One channel's picture drawn by the display layer from data and cursors of the test's own,
// the way the application draws the current channel.
class RenderTest : public testing::Test {
  protected:
    void fillChannel(int c, int value) { data[c].samples.fill(static_cast<std::uint8_t>(value)); }
    void renderScreen() {
        images[0] =
            display::renderView(display::ScreenGeometry, current, data[current], cursors[current]);
    }
    void renderStrip() {
        images[current + 1] =
            display::renderView(display::StripGeometry, current, data[current], cursors[current]);
    }
    std::int64_t pixel(int image, int x, int y) const {
        const auto& img = images[image];
        if (!img || x < 0 || y < 0 || x >= img->width || y >= img->height) {
            return -1;
        }
        const std::uint8_t* p =
            img->rgb.data() + (static_cast<std::size_t>(y) * img->width + x) * 3;
        return toolkit::rgbColour(p[0], p[1], p[2]);
    }
    std::vector<std::uint8_t> pixelsOf(int image) const {
        return images[image] ? images[image]->rgb : std::vector<std::uint8_t>{};
    }
    // Every pixel of the image with that colour, as (x, y).
    std::vector<std::pair<int, int>> pixelsWithColour(int image, std::int64_t colour) const {
        std::vector<std::pair<int, int>> found;
        const auto& img = images[image];
        for (int y = 0; img && y < img->height; ++y) {
            for (int x = 0; x < img->width; ++x) {
                if (pixel(image, x, y) == colour) {
                    found.emplace_back(x, y);
                }
            }
        }
        return found;
    }
    bool rowHasColourBetween(int image, int y, int x1, int x2, std::int64_t colour) const {
        for (int x = x1; x <= x2; ++x) {
            if (pixel(image, x, y) == colour) {
                return true;
            }
        }
        return false;
    }

    std::array<state::ChannelData, 4> data{};
    std::array<state::ChannelCursors, 4> cursors{};
    int current = 0;
    // 0 the one-channel screen, 1..4 the strips.
    std::array<std::shared_ptr<toolkit::Image>, 5> images{};
};

// ---- Trace geometry of the one-channel screen ----

class ScreenTrace : public RenderTest {};

TEST_F(ScreenTrace, ValueOneLiesOnRow504AcrossTheWholeWidth) {
    fillChannel(0, 1);
    renderScreen();
    const auto img = images[0];
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 508);
    EXPECT_EQ(img->height, 512);
    for (int x = 0; x < 508; ++x) {
        ASSERT_EQ(pixel(0, x, 504), Trace) << "column " << x;
    }
    // Column 10 crosses no grid line: the rows beside the trace stay black.
    EXPECT_EQ(pixel(0, 10, 503), 0);
    EXPECT_EQ(pixel(0, 10, 505), 0);
}

TEST_F(ScreenTrace, AllZeroTraceIsInvisible) {
    renderScreen();
    EXPECT_TRUE(pixelsWithColour(0, Trace).empty());
    // The grid is still there.
    EXPECT_EQ(pixel(0, 80, 10), Division);
}

TEST_F(ScreenTrace, ValueSixtyFourLiesOnRowZero) {
    fillChannel(0, 64);
    renderScreen();
    for (int x = 0; x < 508; ++x) {
        ASSERT_EQ(pixel(0, x, 0), Trace) << "column " << x;
    }
    EXPECT_EQ(pixel(0, 10, 1), 0);
}

TEST_F(ScreenTrace, SpikeAboveSixtyFourRunsOffTheTopButItsVisiblePartIsDrawn) {
    fillChannel(0, 32);
    data[0].samples[50] = 200; // row 512 - 1600, far above the image
    renderScreen();
    // The rising segment (196, 256) -> (200, -1088) and the falling one back to (204, 256)
    // cross every row above the centre line.
    for (int y = 0; y < 256; ++y) {
        ASSERT_TRUE(rowHasColourBetween(0, y, 196, 204, Trace)) << "row " << y;
    }
    // Away from the spike the trace stays on the centre line.
    EXPECT_EQ(pixel(0, 100, 256), Trace);
    EXPECT_FALSE(rowHasColourBetween(0, 0, 0, 190, Trace));
}

TEST_F(ScreenTrace, LastSegmentEndsVisiblyAtColumn507) {
    fillChannel(0, 10);
    data[0].samples[127] = 20; // last drawn sample: segment (504, 432) -> (508, 352)
    renderScreen();
    bool found = false;
    for (int y = 352; y <= 432; ++y) {
        found = found || pixel(0, 507, y) == Trace;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(pixel(0, 508, 352), -1); // no column 508 in the image
}

TEST_F(ScreenTrace, DrawsTheCurrentChannel) {
    fillChannel(0, 1);
    fillChannel(2, 64);
    current = 2;
    renderScreen();
    EXPECT_EQ(pixel(0, 10, 0), Trace);
    EXPECT_NE(pixel(0, 10, 504), Trace);
}

// ---- Grid ----

class ScreenGrid : public RenderTest {};

TEST_F(ScreenGrid, LinesHaveTheirColoursAndDivisionsLieOverHalfDivisions) {
    renderScreen();
    EXPECT_EQ(pixel(0, 40, 10), HalfDivision);
    EXPECT_EQ(pixel(0, 80, 10), Division);
    EXPECT_EQ(pixel(0, 440, 511), HalfDivision);
    EXPECT_EQ(pixel(0, 480, 511), Division);
    EXPECT_EQ(pixel(0, 10, 100), HalfDivision);
    EXPECT_EQ(pixel(0, 10, 48), Division);
    EXPECT_EQ(pixel(0, 507, 464), Division);
    // Crossings: a division line wins, both ways round.
    EXPECT_EQ(pixel(0, 80, 100), Division);
    EXPECT_EQ(pixel(0, 40, 48), Division);
    EXPECT_EQ(pixel(0, 40, 100), HalfDivision);
    // No border lines.
    EXPECT_EQ(pixel(0, 0, 10), 0);
    EXPECT_EQ(pixel(0, 507, 10), 0);
    EXPECT_EQ(pixel(0, 10, 0), 0);
    EXPECT_EQ(pixel(0, 10, 511), 0);
}

// ---- Cursor lines ----

class ScreenCursors : public RenderTest {};

TEST_F(ScreenCursors, ModesDrawTheirPairs) {
    const auto drawn = [this](int mode) {
        cursors[0].cursorMode = static_cast<state::CursorMode>(mode);
        renderScreen();
        // Row 10 / 502 at column 300, column 10 / 502 at row 300: off the grid.
        return std::array<bool, 4>{pixel(0, 300, 10) == Cursor, pixel(0, 300, 502) == Cursor,
                                   pixel(0, 10, 300) == Cursor, pixel(0, 502, 300) == Cursor};
    };
    EXPECT_EQ(drawn(0), (std::array<bool, 4>{false, false, false, false}));
    EXPECT_EQ(drawn(1), (std::array<bool, 4>{true, true, false, false}));
    EXPECT_EQ(drawn(2), (std::array<bool, 4>{false, false, true, true}));
    EXPECT_EQ(drawn(3), (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(drawn(7), (std::array<bool, 4>{false, false, false, false}));
}

TEST_F(ScreenCursors, CursorLinesLieOverTraceAndGrid) {
    fillChannel(0, 1); // trace on row 504
    cursors[0].cursorMode = state::CursorMode::Both;
    cursors[0].posHLineU = 504;
    cursors[0].posVLineL = 80; // on a division line
    renderScreen();
    EXPECT_EQ(pixel(0, 300, 504), Cursor);
    EXPECT_EQ(pixel(0, 80, 300), Cursor);
    EXPECT_EQ(pixel(0, 80, 504), Cursor);
    EXPECT_EQ(pixel(0, 507, 504), Cursor);
}

TEST_F(ScreenCursors, CursorsOutsideTheImageDrawNothing) {
    renderScreen();
    const auto withoutCursors = pixelsOf(0);
    cursors[0].cursorMode = state::CursorMode::Both;
    cursors[0].posVLineL = 508;
    cursors[0].posVLineR = 600;
    cursors[0].posHLineO = 512;
    cursors[0].posHLineU = 900;
    renderScreen();
    EXPECT_EQ(pixelsOf(0), withoutCursors);
}

TEST_F(ScreenCursors, UsesTheCursorsOfTheCurrentChannel) {
    cursors[0].cursorMode = state::CursorMode::None;
    cursors[1].cursorMode = state::CursorMode::Vertical;
    cursors[1].posVLineL = 300;
    current = 1;
    renderScreen();
    EXPECT_EQ(pixel(0, 300, 10), Cursor);
    EXPECT_NE(pixel(0, 10, 300), Cursor);
}

// ---- The four channel strips ----

class StripRendering : public RenderTest {};

TEST_F(StripRendering, EachChannelHasItsOwnImageColourAndScale) {
    for (int c = 0; c < 4; ++c) {
        fillChannel(c, 32);
        current = c;
        renderStrip();
        const int n = c + 1;
        const auto img = images[n];
        ASSERT_TRUE(img) << "strip " << n;
        EXPECT_EQ(img->width, 508);
        EXPECT_EQ(img->height, 128);
        // Value 32 on the centre division line, row 64; 0 would be row 128.
        EXPECT_EQ(pixel(n, 10, 64), StripTrace[c]) << "strip " << n;
        EXPECT_EQ(pixel(n, 507, 64), StripTrace[c]) << "strip " << n;
        EXPECT_EQ(pixelsWithColour(n, StripTrace[c]).size(), 508u) << "strip " << n;
    }
}

TEST_F(StripRendering, GridRowsAndVerticalScale) {
    data[0].samples[0] = 64;
    data[0].samples[1] = 64; // segment on row 0
    data[0].samples[2] = 1;  // row 126
    data[0].samples[3] = 1;
    renderStrip();
    EXPECT_EQ(pixel(1, 40, 127), HalfDivision);
    EXPECT_EQ(pixel(1, 80, 127), Division);
    for (int y : {25, 51, 77, 103}) {
        EXPECT_EQ(pixel(1, 10, y), HalfDivision) << "row " << y;
    }
    for (int y : {12, 38, 64, 90, 116}) {
        EXPECT_EQ(pixel(1, 10, y), Division) << "row " << y;
    }
    EXPECT_EQ(pixel(1, 2, 0), Trace);
    EXPECT_EQ(pixel(1, 10, 126), Trace);
    EXPECT_EQ(pixel(1, 10, 125), 0);
}

TEST_F(StripRendering, CursorsAreDrawnInStripRows) {
    cursors[0].cursorMode = state::CursorMode::Both;
    cursors[0].posHLineO = 20;
    cursors[0].posHLineU = 128; // below the strip
    cursors[0].posVLineL = 300;
    cursors[0].posVLineR = 508; // right of the strip
    renderStrip();
    EXPECT_EQ(pixel(1, 10, 20), Cursor);
    EXPECT_EQ(pixel(1, 300, 127), Cursor);
    EXPECT_EQ(pixel(1, 300, 0), Cursor);
    // Only the two visible lines are cursor-coloured: one row and one column.
    EXPECT_EQ(pixelsWithColour(1, Cursor).size(), 508u + 128u - 1u);
}

// ---- Repeatability ----

class RenderRepeatability : public RenderTest {};

TEST_F(RenderRepeatability, IdenticalStateGivesIdenticalImages) {
    for (int i = 0; i < 129; ++i) {
        data[0].samples[i] = static_cast<std::uint8_t>((i * 37) % 70);
    }
    cursors[0].cursorMode = state::CursorMode::Both;
    renderScreen();
    const auto first = images[0];
    renderScreen();
    const auto second = images[0];
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second); // a fresh image each time
    EXPECT_EQ(first->rgb, second->rgb);

    renderStrip();
    const auto strip = images[1]->rgb;
    renderStrip();
    EXPECT_EQ(images[1]->rgb, strip);
}

// ---- Drawing again into a picture that holds the last one ----

class RedrawnPicture : public RenderTest {};

// A seeded walk through traces (spikes past both edges, flat lines, zeros) and cursor states
// (every mode, lines moved, kept, dragged off the picture): one picture drawn again each time must
// equal a fresh drawing every time, in both views.
TEST_F(RedrawnPicture, EqualsAFreshDrawingAfterEveryChangeOfTraceAndCursors) {
    std::uint32_t seed = 12345;
    const auto next = [&seed](int bound) {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(bound));
    };
    const state::CursorMode modes[] = {state::CursorMode::None, state::CursorMode::Horizontal,
                                       state::CursorMode::Vertical, state::CursorMode::Both};
    for (const display::ViewGeometry* geometry :
         {&display::ScreenGeometry, &display::StripGeometry}) {
        toolkit::Image picture;
        picture.width = geometry->width;
        picture.height = geometry->height;
        picture.rgb.assign(static_cast<std::size_t>(picture.width) * picture.height * 3, 0x5A);
        display::Footprint footprint; // not valid: the picture's content is unknown
        state::ChannelData channel{};
        state::ChannelCursors lines{};
        for (int step = 0; step < 300; ++step) {
            if (step % 3 != 2) { // now and then only the cursors change
                const int kind = next(4);
                for (auto& sample : channel.samples) {
                    sample = static_cast<std::uint8_t>(kind == 0   ? next(256)
                                                       : kind == 1 ? 32 + next(9)
                                                       : kind == 2 ? 0
                                                                   : next(70));
                }
            }
            if (next(2) == 0) { // otherwise the cursors stay where they were
                lines.cursorMode = modes[next(4)];
                lines.posHLineO = next(geometry->height + 20) - 10;
                lines.posHLineU = next(geometry->height + 20) - 10;
                lines.posVLineL = next(geometry->width + 20) - 10;
                lines.posVLineR = next(geometry->width + 20) - 10;
            }
            const int channelNumber = next(4);
            ASSERT_TRUE(
                display::redrawView(picture, *geometry, channelNumber, channel, lines, footprint));
            const auto fresh = display::renderView(*geometry, channelNumber, channel, lines);
            ASSERT_TRUE(fresh);
            ASSERT_EQ(picture.rgb, fresh->rgb) << "step " << step;
        }
    }
}

} // namespace
