// The one-channel screen and the channel strips, checked pixel by pixel in the images they leave.
#include "display/display.h"

#include "app/controls.h"
#include "app/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace veltrace;

constexpr std::int64_t Trace = 0x00FFFF;
constexpr std::int64_t Cursor = 0xFFFF33;
constexpr std::int64_t HalfDivision = 0x444444;
constexpr std::int64_t Division = 0x888888;
constexpr std::array<std::int64_t, 4> StripTrace = {0x00FFFF, 0x0000FF, 0x00FF00, 0xFF9900};

void fillChannel(int c, int value) {
    for (auto& slot : app::scope.samples) {
        slot[c] = static_cast<std::uint8_t>(value);
    }
}

std::vector<std::uint8_t> pixelsOf(int image) {
    const auto img = toolkit::imageGet(image);
    return img ? img->rgb : std::vector<std::uint8_t>{};
}

// Every pixel of the image with that colour, as (x, y).
std::vector<std::pair<int, int>> pixelsWithColour(int image, std::int64_t colour) {
    std::vector<std::pair<int, int>> found;
    const auto img = toolkit::imageGet(image);
    for (int y = 0; img && y < img->height; ++y) {
        for (int x = 0; x < img->width; ++x) {
            if (toolkit::imagePixel(image, x, y) == colour) {
                found.emplace_back(x, y);
            }
        }
    }
    return found;
}

bool rowHasColourBetween(int image, int y, int x1, int x2, std::int64_t colour) {
    for (int x = x1; x <= x2; ++x) {
        if (toolkit::imagePixel(image, x, y) == colour) {
            return true;
        }
    }
    return false;
}

class RenderTest : public testing::Test {
  protected:
    void SetUp() override {
        app::resetScopeState();
        // Images outlive the scope state; start every test without any.
        for (int n = 0; n <= 4; ++n) {
            toolkit::imageFree(n);
        }
    }
};

// ---- Trace geometry of the one-channel screen ----

class ScreenTrace : public RenderTest {};

TEST_F(ScreenTrace, ValueOneLiesOnRow504AcrossTheWholeWidth) {
    fillChannel(0, 1);
    display::renderScreen(0);
    const auto img = toolkit::imageGet(app::BitmapScreen);
    ASSERT_TRUE(img);
    EXPECT_EQ(img->width, 508);
    EXPECT_EQ(img->height, 512);
    for (int x = 0; x < 508; ++x) {
        ASSERT_EQ(toolkit::imagePixel(0, x, 504), Trace) << "column " << x;
    }
    // Column 10 crosses no grid line: the rows beside the trace stay black.
    EXPECT_EQ(toolkit::imagePixel(0, 10, 503), 0);
    EXPECT_EQ(toolkit::imagePixel(0, 10, 505), 0);
}

TEST_F(ScreenTrace, AllZeroTraceIsInvisible) {
    display::renderScreen(0);
    EXPECT_TRUE(pixelsWithColour(0, Trace).empty());
    // The grid is still there.
    EXPECT_EQ(toolkit::imagePixel(0, 80, 10), Division);
}

TEST_F(ScreenTrace, ValueSixtyFourLiesOnRowZero) {
    fillChannel(0, 64);
    display::renderScreen(0);
    for (int x = 0; x < 508; ++x) {
        ASSERT_EQ(toolkit::imagePixel(0, x, 0), Trace) << "column " << x;
    }
    EXPECT_EQ(toolkit::imagePixel(0, 10, 1), 0);
}

TEST_F(ScreenTrace, SpikeAboveSixtyFourRunsOffTheTopButItsVisiblePartIsDrawn) {
    fillChannel(0, 32);
    app::scope.samples[50][0] = 200; // row 512 - 1600, far above the image
    display::renderScreen(0);
    // The rising segment (196, 256) -> (200, -1088) and the falling one back to (204, 256)
    // cross every row above the centre line.
    for (int y = 0; y < 256; ++y) {
        ASSERT_TRUE(rowHasColourBetween(0, y, 196, 204, Trace)) << "row " << y;
    }
    // Away from the spike the trace stays on the centre line.
    EXPECT_EQ(toolkit::imagePixel(0, 100, 256), Trace);
    EXPECT_FALSE(rowHasColourBetween(0, 0, 0, 190, Trace));
}

TEST_F(ScreenTrace, LastSegmentEndsVisiblyAtColumn507) {
    fillChannel(0, 10);
    app::scope.samples[127][0] = 20; // last drawn sample: segment (504, 432) -> (508, 352)
    display::renderScreen(0);
    bool found = false;
    for (int y = 352; y <= 432; ++y) {
        found = found || toolkit::imagePixel(0, 507, y) == Trace;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(toolkit::imagePixel(0, 508, 352), -1); // no column 508 in the image
}

TEST_F(ScreenTrace, DrawsTheCurrentChannel) {
    fillChannel(0, 1);
    fillChannel(2, 64);
    app::scope.currentChannel = 2;
    display::renderScreen(0);
    EXPECT_EQ(toolkit::imagePixel(0, 10, 0), Trace);
    EXPECT_NE(toolkit::imagePixel(0, 10, 504), Trace);
}

// ---- Grid ----

class ScreenGrid : public RenderTest {};

TEST_F(ScreenGrid, LinesHaveTheirColoursAndDivisionsLieOverHalfDivisions) {
    display::renderScreen(0);
    EXPECT_EQ(toolkit::imagePixel(0, 40, 10), HalfDivision);
    EXPECT_EQ(toolkit::imagePixel(0, 80, 10), Division);
    EXPECT_EQ(toolkit::imagePixel(0, 440, 511), HalfDivision);
    EXPECT_EQ(toolkit::imagePixel(0, 480, 511), Division);
    EXPECT_EQ(toolkit::imagePixel(0, 10, 100), HalfDivision);
    EXPECT_EQ(toolkit::imagePixel(0, 10, 48), Division);
    EXPECT_EQ(toolkit::imagePixel(0, 507, 464), Division);
    // Crossings: a division line wins, both ways round.
    EXPECT_EQ(toolkit::imagePixel(0, 80, 100), Division);
    EXPECT_EQ(toolkit::imagePixel(0, 40, 48), Division);
    EXPECT_EQ(toolkit::imagePixel(0, 40, 100), HalfDivision);
    // No border lines.
    EXPECT_EQ(toolkit::imagePixel(0, 0, 10), 0);
    EXPECT_EQ(toolkit::imagePixel(0, 507, 10), 0);
    EXPECT_EQ(toolkit::imagePixel(0, 10, 0), 0);
    EXPECT_EQ(toolkit::imagePixel(0, 10, 511), 0);
}

// ---- Cursor lines ----

class ScreenCursors : public RenderTest {};

TEST_F(ScreenCursors, ModesDrawTheirPairs) {
    const auto drawn = [](int mode) {
        app::scope.cursorMode[0] = static_cast<std::uint8_t>(mode);
        display::renderScreen(0);
        // Row 10 / 502 at column 300, column 10 / 502 at row 300: off the grid.
        return std::array<bool, 4>{
            toolkit::imagePixel(0, 300, 10) == Cursor, toolkit::imagePixel(0, 300, 502) == Cursor,
            toolkit::imagePixel(0, 10, 300) == Cursor, toolkit::imagePixel(0, 502, 300) == Cursor};
    };
    EXPECT_EQ(drawn(0), (std::array<bool, 4>{false, false, false, false}));
    EXPECT_EQ(drawn(1), (std::array<bool, 4>{true, true, false, false}));
    EXPECT_EQ(drawn(2), (std::array<bool, 4>{false, false, true, true}));
    EXPECT_EQ(drawn(3), (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(drawn(7), (std::array<bool, 4>{false, false, false, false}));
}

TEST_F(ScreenCursors, CursorLinesLieOverTraceAndGrid) {
    fillChannel(0, 1); // trace on row 504
    app::scope.cursorMode[0] = 3;
    app::scope.posHLineU[0] = 504;
    app::scope.posVLineL[0] = 80; // on a division line
    display::renderScreen(0);
    EXPECT_EQ(toolkit::imagePixel(0, 300, 504), Cursor);
    EXPECT_EQ(toolkit::imagePixel(0, 80, 300), Cursor);
    EXPECT_EQ(toolkit::imagePixel(0, 80, 504), Cursor);
    EXPECT_EQ(toolkit::imagePixel(0, 507, 504), Cursor);
}

TEST_F(ScreenCursors, CursorsOutsideTheImageDrawNothing) {
    display::renderScreen(0);
    const auto withoutCursors = pixelsOf(0);
    app::scope.cursorMode[0] = 3;
    app::scope.posVLineL[0] = 508;
    app::scope.posVLineR[0] = 600;
    app::scope.posHLineO[0] = 512;
    app::scope.posHLineU[0] = 900;
    display::renderScreen(0);
    EXPECT_EQ(pixelsOf(0), withoutCursors);
}

TEST_F(ScreenCursors, UsesTheCursorsOfTheCurrentChannel) {
    app::scope.cursorMode[0] = 0;
    app::scope.cursorMode[1] = 2;
    app::scope.posVLineL[1] = 300;
    app::scope.currentChannel = 1;
    display::renderScreen(0);
    EXPECT_EQ(toolkit::imagePixel(0, 300, 10), Cursor);
    EXPECT_NE(toolkit::imagePixel(0, 10, 300), Cursor);
}

// ---- The four channel strips ----

class StripRendering : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        app::scope.fourChannelView = 1;
    }
};

TEST_F(StripRendering, EachChannelHasItsOwnImageColourAndScale) {
    for (int c = 0; c < 4; ++c) {
        fillChannel(c, 32);
        app::scope.currentChannel = static_cast<std::uint8_t>(c);
        display::renderStrip(0);
        const int n = c + 1;
        const auto img = toolkit::imageGet(n);
        ASSERT_TRUE(img) << "strip " << n;
        EXPECT_EQ(img->width, 508);
        EXPECT_EQ(img->height, 128);
        // Value 32 on the centre division line, row 64; 0 would be row 128.
        EXPECT_EQ(toolkit::imagePixel(n, 10, 64), StripTrace[c]) << "strip " << n;
        EXPECT_EQ(toolkit::imagePixel(n, 507, 64), StripTrace[c]) << "strip " << n;
        EXPECT_EQ(pixelsWithColour(n, StripTrace[c]).size(), 508u) << "strip " << n;
    }
}

TEST_F(StripRendering, GridRowsAndVerticalScale) {
    app::scope.samples[0][0] = 64;
    app::scope.samples[1][0] = 64; // segment on row 0
    app::scope.samples[2][0] = 1;  // row 126
    app::scope.samples[3][0] = 1;
    display::renderStrip(0);
    EXPECT_EQ(toolkit::imagePixel(1, 40, 127), HalfDivision);
    EXPECT_EQ(toolkit::imagePixel(1, 80, 127), Division);
    for (int y : {25, 51, 77, 103}) {
        EXPECT_EQ(toolkit::imagePixel(1, 10, y), HalfDivision) << "row " << y;
    }
    for (int y : {12, 38, 64, 90, 116}) {
        EXPECT_EQ(toolkit::imagePixel(1, 10, y), Division) << "row " << y;
    }
    EXPECT_EQ(toolkit::imagePixel(1, 2, 0), Trace);
    EXPECT_EQ(toolkit::imagePixel(1, 10, 126), Trace);
    EXPECT_EQ(toolkit::imagePixel(1, 10, 125), 0);
}

TEST_F(StripRendering, CursorsAreDrawnInStripRows) {
    app::scope.cursorMode[0] = 3;
    app::scope.posHLineO[0] = 20;
    app::scope.posHLineU[0] = 128; // below the strip
    app::scope.posVLineL[0] = 300;
    app::scope.posVLineR[0] = 508; // right of the strip
    display::renderStrip(0);
    EXPECT_EQ(toolkit::imagePixel(1, 10, 20), Cursor);
    EXPECT_EQ(toolkit::imagePixel(1, 300, 127), Cursor);
    EXPECT_EQ(toolkit::imagePixel(1, 300, 0), Cursor);
    // Only the two visible lines are cursor-coloured: one row and one column.
    EXPECT_EQ(pixelsWithColour(1, Cursor).size(), 508u + 128u - 1u);
}

TEST_F(StripRendering, OnlyTheCurrentStripChanges) {
    for (int c = 0; c < 4; ++c) {
        fillChannel(c, 10 + 5 * c);
        app::scope.currentChannel = static_cast<std::uint8_t>(c);
        display::renderStrip(0);
    }
    std::array<std::shared_ptr<const toolkit::Image>, 5> before;
    for (int n = 1; n <= 4; ++n) {
        before[n] = toolkit::imageGet(n);
    }
    fillChannel(2, 50);
    app::scope.currentChannel = 2;
    display::renderStrip(0);
    for (int n : {1, 2, 4}) {
        EXPECT_EQ(toolkit::imageGet(n), before[n]) << "strip " << n;
    }
    EXPECT_FALSE(toolkit::imageGet(0)); // the one-channel screen was never drawn
    ASSERT_TRUE(toolkit::imageGet(3));
    EXPECT_NE(toolkit::imageGet(3)->rgb, before[3]->rgb);
    EXPECT_EQ(toolkit::imagePixel(3, 10, 128 - 2 * 50), StripTrace[2]);
}

TEST_F(StripRendering, RedrawCurrentViewFollowsTheViewFlag) {
    app::scope.currentChannel = 1;
    display::redrawCurrentView(0);
    EXPECT_TRUE(toolkit::imageGet(2));
    EXPECT_FALSE(toolkit::imageGet(0));
    app::scope.fourChannelView = 0;
    app::scope.currentChannel = 0;
    display::redrawCurrentView(0);
    ASSERT_TRUE(toolkit::imageGet(0));
    EXPECT_EQ(toolkit::imageGet(0)->height, 512);
}

// ---- Repeatability ----

class RenderRepeatability : public RenderTest {};

TEST_F(RenderRepeatability, IdenticalStateGivesIdenticalImages) {
    for (int i = 0; i < 129; ++i) {
        app::scope.samples[i][0] = static_cast<std::uint8_t>((i * 37) % 70);
    }
    app::scope.cursorMode[0] = 3;
    display::renderScreen(0);
    const auto first = toolkit::imageGet(0);
    display::renderScreen(0);
    const auto second = toolkit::imageGet(0);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second); // a fresh image each time
    EXPECT_EQ(first->rgb, second->rgb);

    app::scope.fourChannelView = 1;
    display::renderStrip(0);
    const auto strip = toolkit::imageGet(1)->rgb;
    display::renderStrip(0);
    EXPECT_EQ(toolkit::imageGet(1)->rgb, strip);
}

// ---- Single shot ----

class SingleShotCompletion : public RenderTest {};

TEST_F(SingleShotCompletion, AnArmedShotEndsInHoldAfterOneUpdateOfEitherView) {
    for (int view = 0; view < 2; ++view) {
        app::scope.fourChannelView = static_cast<std::uint8_t>(view);
        app::scope.holdDisplay = 0;
        app::scope.singleShotArmed = 1;
        display::redrawCurrentView(0);
        EXPECT_EQ(app::scope.singleShotArmed.load(), 0) << "view " << view;
        EXPECT_EQ(app::scope.holdDisplay.load(), 1) << "view " << view;
    }
}

TEST_F(SingleShotCompletion, NothingIsHeldWhenNoShotIsArmed) {
    display::renderScreen(0);
    app::scope.fourChannelView = 1;
    display::renderStrip(0);
    EXPECT_EQ(app::scope.holdDisplay.load(), 0);
    EXPECT_EQ(app::scope.singleShotArmed.load(), 0);
}

// ---- Two threads rendering at once ----

// The worker renders frames while the main thread changes the cursors and renders under the
// lock, as a command does. Every image the main thread sees under the lock must be the complete
// drawing of the state it set, never a half-drawn or foreign one.
TEST(RenderThreaded, RendersOfBothThreadsNeverOverlap) {
    app::resetScopeState();
    for (int i = 0; i < 129; ++i) {
        app::scope.samples[i][0] = static_cast<std::uint8_t>(20 + (i % 20));
    }
    std::array<std::vector<std::uint8_t>, 2> expected;
    for (int mode = 0; mode < 2; ++mode) {
        app::scope.cursorMode[0] = static_cast<std::uint8_t>(mode * 3);
        display::renderScreen(0);
        expected[mode] = pixelsOf(0);
    }
    ASSERT_NE(expected[0], expected[1]);

    std::atomic<bool> stop{false};
    std::thread worker([&stop] {
        while (!stop.load()) {
            display::redrawCurrentView(0);
            // The real worker pauses between cycles too; a loop that takes the lock back at once
            // can starve the other thread for minutes (the mutex is not fair), notably under
            // ThreadSanitizer.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    int mismatches = 0;
    for (int round = 0; round < 20; ++round) {
        // A short rest outside the lock lets the worker in, as the event loop's pause does;
        // without it this thread could take the lock back at once, every round.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::recursive_mutex> guard(app::scopeLock());
        const int mode = round % 2;
        app::scope.cursorMode[0] = static_cast<std::uint8_t>(mode * 3);
        display::renderScreen(0);
        if (pixelsOf(0) != expected[mode]) {
            ++mismatches;
        }
    }
    stop = true;
    worker.join();
    EXPECT_EQ(mismatches, 0);
}

} // namespace
