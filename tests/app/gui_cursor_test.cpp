// Measurement cursors driven the way the user drives them: the pointer moved over the real
// window, real clicks on the pictures, and the program's own loop turns doing the grabbing,
// dragging and redrawing.
#include "gui_window_fixture.h"

#include "app/app.h"

#include <mutex>
#include <string>

namespace veltrace::apptest {
namespace {

using app::ButtonChannelMode;
using app::ButtonCursorH;
using app::ButtonCursorHV;
using app::ButtonCursorV;
using app::ButtonGrH;
using app::ButtonGrV;
using app::ButtonHold;
using app::ImageChannel1;
using app::ImageScreen;

constexpr std::int64_t CursorColour = 0xFFFF33;

class CursorFixture : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        // The pictures must have their final geometry before pointer positions mean anything.
        drive::settle();
    }
    void TearDown() override {
        // Moving the pointer queues window-system events that the next toolkit start would
        // otherwise inherit; let this one handle them before the toolkit ends.
        drive::settle();
        MainWindowFixture::TearDown();
    }

    static std::lock_guard<std::recursive_mutex> lock() {
        return std::lock_guard<std::recursive_mutex>(state::scopeLock());
    }

    // Forgets any grab without going through the program, so each probe starts idle.
    static void forgetGrab() {
        auto guard = lock();
        scope.draggingLine = 0;
        scope.draggedLine = state::CursorLine::None;
        scope.holdDisplay = 0;
    }

    static std::string grabbedLine() {
        auto guard = lock();
        if (scope.draggingLine != 1) {
            return "";
        }
        switch (scope.draggedLine) {
        case state::CursorLine::HLineO:
            return "HLineO";
        case state::CursorLine::HLineU:
            return "HLineU";
        case state::CursorLine::VLineL:
            return "VLineL";
        case state::CursorLine::VLineR:
            return "VLineR";
        case state::CursorLine::None:
            break;
        }
        return "none";
    }

    // Moves the pointer and lets one loop turn run the drag update.
    static void dragTo(int x, int y) {
        movePointer(x, y);
        turn();
    }

    // Four-channel view with channel `c` current (clicks, not state edits).
    static void fourChannelsWithCurrent(int c) {
        click(ButtonChannelMode);
        ASSERT_EQ(scope.fourChannelView, 1);
        if (c != 0) {
            click(app::optionChannel(c));
        }
        ASSERT_EQ(scope.currentChannel, c);
    }
};

// ---- Grabbing ----------------------------------------------------------------------------------

class CursorGrab : public CursorFixture {};

TEST_F(CursorGrab, UpperLineIsGrabbedWithinFourRowsOfItsStartRow) {
    click(ButtonCursorH);
    ASSERT_EQ(scope.cursors[0].cursorMode, state::CursorMode::Horizontal);
    // Line row 10 of the picture, whose first row is row 12 of the window's area.
    for (int row = 16; row <= 28; ++row) {
        forgetGrab();
        clickAt(ImageScreen, 250, row);
        const bool inReach = row >= 18 && row <= 26;
        EXPECT_EQ(grabbedLine(), inReach ? "HLineO" : "") << "pointer row " << row;
    }
}

TEST_F(CursorGrab, LowerLineIsGrabbedWithinFourRowsOfItsStartRow) {
    click(ButtonCursorH);
    ASSERT_GT(drive::areaHeight(app::MainWindow), 520);
    for (int row = 508; row <= 520; ++row) {
        forgetGrab();
        clickAt(ImageScreen, 250, row);
        const bool inReach = row >= 510 && row <= 518;
        EXPECT_EQ(grabbedLine(), inReach ? "HLineU" : "") << "pointer row " << row;
    }
}

TEST_F(CursorGrab, LinesCloserThanTheReachGiveTheLowerOne) {
    click(ButtonCursorH);
    {
        auto guard = lock();
        scope.cursors[0].posHLineO = 200;
        scope.cursors[0].posHLineU = 206;
    }
    clickAt(ImageScreen, 250, 12 + 203);
    EXPECT_EQ(grabbedLine(), "HLineU");
}

TEST_F(CursorGrab, BothPairsOnAVerticalLineWinsOverAHorizontalOne) {
    click(ButtonCursorHV);
    ASSERT_EQ(scope.cursors[0].cursorMode, state::CursorMode::Both);
    clickAt(ImageScreen, 12 + 10, 12 + 10); // the crossing of HLineO and VLineL
    EXPECT_EQ(grabbedLine(), "VLineL");

    forgetGrab();
    clickAt(ImageScreen, 12 + 502, 12 + 502); // the crossing of HLineU and VLineR
    EXPECT_EQ(grabbedLine(), "VLineR");

    forgetGrab();
    clickAt(ImageScreen, 250, 12 + 502); // near HLineU only
    EXPECT_EQ(grabbedLine(), "HLineU");
}

TEST_F(CursorGrab, ModeDecidesWhichPairCanBeGrabbed) {
    click(ButtonCursorV); // vertical pair only: HLineO at row 22 is not there to grab
    clickAt(ImageScreen, 250, 12 + 10);
    EXPECT_EQ(grabbedLine(), "");
    clickAt(ImageScreen, 12 + 10, 250);
    EXPECT_EQ(grabbedLine(), "VLineL");
}

// ---- The four-channel pictures -----------------------------------------------------------------

class CursorFourChannelGrab : public CursorFixture {};

TEST_F(CursorFourChannelGrab, ThirdChannelsLinesAreMeasuredFromItsOwnPicture) {
    fourChannelsWithCurrent(2);
    click(ButtonCursorH);
    ASSERT_EQ(scope.cursors[2].cursorMode, state::CursorMode::Horizontal);
    {
        auto guard = lock();
        scope.cursors[2].posHLineO = 40;
    }
    // The third picture's first row is row 12 + 266 = 278 of the window's area.
    for (int row = 312; row <= 324; ++row) {
        forgetGrab();
        clickAt(ImageChannel1 + 2, 250, row);
        const bool inReach = row >= 314 && row <= 322;
        EXPECT_EQ(grabbedLine(), inReach ? "HLineO" : "") << "pointer row " << row;
    }
}

TEST_F(CursorFourChannelGrab, AnotherChannelsPictureDoesNotGrab) {
    fourChannelsWithCurrent(2);
    click(ButtonCursorV);
    // VLineL of channel 3 is at column 22 whatever the picture; the pointer is on it, but over
    // channel 1's picture.
    clickAt(ImageChannel1, 12 + 10, 60);
    EXPECT_EQ(grabbedLine(), "");
    EXPECT_EQ(scope.holdDisplay, 0);
    clickAt(ImageChannel1 + 2, 12 + 10, 340);
    EXPECT_EQ(grabbedLine(), "VLineL");
}

TEST_F(CursorFourChannelGrab, ClickOnAnyPictureReleases) {
    fourChannelsWithCurrent(2);
    click(ButtonCursorV);
    clickAt(ImageChannel1 + 2, 12 + 10, 340);
    ASSERT_EQ(grabbedLine(), "VLineL");
    clickAt(ImageChannel1 + 3, 300, 450); // channel 4's picture, far from every line
    EXPECT_EQ(scope.draggingLine, 0);
    EXPECT_EQ(scope.holdDisplay, 0);
}

// ---- Dragging ----------------------------------------------------------------------------------

class CursorDrag : public CursorFixture {
  protected:
    void grab(int mode, int x, int y, const char* line) {
        click(mode == 1 ? ButtonCursorH : (mode == 2 ? ButtonCursorV : ButtonCursorHV));
        clickAt(ImageScreen, x, y);
        ASSERT_EQ(grabbedLine(), line);
    }
    static int row(std::int16_t state::ChannelCursors::*line) {
        auto guard = lock();
        return scope.cursors[scope.currentChannel & 3].*line;
    }
};

TEST_F(CursorDrag, LineFollowsThePointerAndStaysWhenReleased) {
    grab(1, 250, 22, "HLineO");
    dragTo(250, 12 + 150);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 150);
    dragTo(250, 12 + 160);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 160);
    // The screen shows the line where it now is.
    EXPECT_EQ(tk::imagePixel(app::BitmapScreen, 250, 160), CursorColour);
    EXPECT_NE(tk::imagePixel(app::BitmapScreen, 250, 10), CursorColour);

    clickAt(ImageScreen, 250, 12 + 160);
    EXPECT_EQ(scope.draggingLine, 0);
    dragTo(250, 12 + 300);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 160);
}

TEST_F(CursorDrag, UpperLineStopsAtTheTopAndTwoRowsAboveTheLowerLine) {
    grab(1, 250, 22, "HLineO");
    dragTo(250, 5); // above the picture, still inside the window
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 0);
    dragTo(250, 12 + 510);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 500);
}

TEST_F(CursorDrag, LowerLineStopsAtRow511AndTwoRowsBelowTheUpperLine) {
    ASSERT_GT(drive::areaHeight(app::MainWindow), 12 + 515);
    grab(1, 250, 12 + 502, "HLineU");
    dragTo(250, 12 + 515);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineU), 511);
    dragTo(250, 12 + 3);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineU), 12);
}

TEST_F(CursorDrag, VerticalLinesStopAtTheEdgesAndKeepTheirOrder) {
    grab(2, 12 + 10, 250, "VLineL");
    dragTo(5, 250);
    EXPECT_EQ(row(&state::ChannelCursors::posVLineL), 0);
    dragTo(12 + 600, 250);
    EXPECT_EQ(row(&state::ChannelCursors::posVLineL), 500); // two columns left of VLineR at 502
    clickAt(ImageScreen, 12 + 500, 250);                    // release where it stands
    ASSERT_EQ(scope.draggingLine, 0);

    // Both lines are in reach now; the right one is tested last and wins.
    clickAt(ImageScreen, 12 + 502, 250);
    ASSERT_EQ(grabbedLine(), "VLineR");
    dragTo(12 + 600, 250);
    EXPECT_EQ(row(&state::ChannelCursors::posVLineR), 511);
    dragTo(12 + 4, 250);
    EXPECT_EQ(row(&state::ChannelCursors::posVLineR), 502); // two columns right of VLineL at 500
}

TEST_F(CursorDrag, PointerOnTheFirstRowOrOutsideLeavesTheLineUntilItReturns) {
    grab(1, 250, 22, "HLineO");
    dragTo(250, 12 + 100);
    ASSERT_EQ(row(&state::ChannelCursors::posHLineO), 100);

    dragTo(250, 0); // first row of the window's area reads 0
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 100);
    movePointer(250, -40); // over the menu bar: -1
    turn();
    EXPECT_EQ(tk::pointerY(app::MainWindow), -1);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 100);
    movePointer(900, 900); // beyond the window
    turn();
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 100);
    EXPECT_EQ(scope.draggingLine, 1); // leaving the window does not end the grab

    dragTo(250, 12 + 200);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 200);
}

// Beside the window the pointer has no row: a grabbed horizontal line stays where it is even
// though the pointer is level with a row of the picture, and follows again once it is back.
TEST_F(CursorDrag, HorizontalLineStaysWhileThePointerIsBesideTheWindow) {
    grab(1, 250, 22, "HLineO");
    dragTo(250, 12 + 280);
    ASSERT_EQ(row(&state::ChannelCursors::posHLineO), 280);

    dragTo(app::MainWindowWidth + 60, 12 + 400); // right of the window, level with row 400
    EXPECT_EQ(tk::pointerY(app::MainWindow), -1);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 280);
    dragTo(app::MainWindowWidth - 1, 12 + 400); // the last column is the edge
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 280);
    dragTo(-30, 12 + 300); // left of it
    EXPECT_EQ(tk::pointerY(app::MainWindow), -1);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 280);
    EXPECT_EQ(scope.draggingLine, 1);

    dragTo(250, 12 + 400); // back over the picture
    EXPECT_EQ(row(&state::ChannelCursors::posHLineO), 400);
}

// Above the window (over its menu bar) and below it the pointer has no column: a grabbed
// vertical line stays, and follows again once the pointer is back.
TEST_F(CursorDrag, VerticalLineStaysWhileThePointerIsAboveOrBelowTheWindow) {
    grab(2, 12 + 10, 250, "VLineL");
    dragTo(12 + 200, 250);
    ASSERT_EQ(row(&state::ChannelCursors::posVLineL), 200);

    dragTo(12 + 300, -10); // over the menu bar, level with column 300
    EXPECT_EQ(tk::pointerX(app::MainWindow), -1);
    EXPECT_EQ(row(&state::ChannelCursors::posVLineL), 200);
    const int height = drive::areaHeight(app::MainWindow);
    ASSERT_GT(height, 520);
    dragTo(12 + 300, height + 40); // below the window
    EXPECT_EQ(tk::pointerX(app::MainWindow), -1);
    EXPECT_EQ(row(&state::ChannelCursors::posVLineL), 200);
    dragTo(12 + 300, height - 1); // the last row is the edge
    EXPECT_EQ(row(&state::ChannelCursors::posVLineL), 200);
    EXPECT_EQ(scope.draggingLine, 1);

    dragTo(12 + 300, 0); // the first row of the area is inside
    EXPECT_EQ(tk::pointerX(app::MainWindow), 12 + 300);
    EXPECT_EQ(row(&state::ChannelCursors::posVLineL), 300);
    dragTo(12 + 150, 250);
    EXPECT_EQ(row(&state::ChannelCursors::posVLineL), 150);
}

TEST_F(CursorDrag, FourChannelRowsAreRowsOfTheChannelsOwnPicture) {
    fourChannelsWithCurrent(1);
    click(ButtonCursorH);
    // HLineU of channel 2 was 502 / 4 = 125: row 12 + 133 + 125 of the window's area.
    clickAt(ImageChannel1 + 1, 250, 12 + 133 + 125);
    ASSERT_EQ(grabbedLine(), "HLineU");
    dragTo(250, 12 + 133 + 60);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineU), 60);
    EXPECT_EQ(tk::imagePixel(app::BitmapChannel1 + 1, 250, 60), CursorColour);
    // Below its own picture (over channel 3's) the line goes on to row 511 in principle.
    dragTo(250, 12 + 133 + 200);
    EXPECT_EQ(row(&state::ChannelCursors::posHLineU), 200);
}

// ---- Linked pairs ------------------------------------------------------------------------------

class LinkedCursorDrag : public CursorFixture {};

TEST_F(LinkedCursorDrag, HorizontalLinkCopiesTheDraggedPairToAllFourStrips) {
    fourChannelsWithCurrent(0);
    for (int c = 0; c < state::ChannelCount; ++c) {
        click(app::optionChannel(c));
        click(ButtonCursorH);
    }
    click(app::optionChannel(1));
    click(ButtonGrH);
    ASSERT_EQ(scope.linkHLines, 1);
    {
        // Give the other channels different pairs: the drag has to overwrite them.
        auto guard = lock();
        scope.cursors[3].posHLineO = 30;
        scope.cursors[3].posHLineU = 90;
    }

    clickAt(ImageChannel1 + 1, 250, 12 + 133 + 125);
    ASSERT_EQ(grabbedLine(), "HLineU");
    dragTo(250, 12 + 133 + 70);
    for (int c = 0; c < state::ChannelCount; ++c) {
        auto guard = lock();
        EXPECT_EQ(scope.cursors[c].posHLineU, 70) << "channel " << c + 1;
        EXPECT_EQ(scope.cursors[c].posHLineO, 2) << "channel " << c + 1;
        // Each strip was redrawn with the line at its new row.
        EXPECT_EQ(tk::imagePixel(app::BitmapChannel1 + c, 250, 70), CursorColour)
            << "channel " << c + 1;
        EXPECT_NE(tk::imagePixel(app::BitmapChannel1 + c, 250, 125), CursorColour)
            << "channel " << c + 1;
    }
    EXPECT_EQ(scope.currentChannel, 1);
    // With a link the freeze lasts only while the pairs are copied.
    EXPECT_EQ(scope.holdDisplay, 0);
}

TEST_F(LinkedCursorDrag, LinkKeptInTheOneChannelViewStillCopiesAndRedrawsTheScreen) {
    fourChannelsWithCurrent(0);
    click(ButtonGrV);
    ASSERT_EQ(scope.linkVLines, 1);
    click(ButtonChannelMode); // back to one channel; GR_V is hidden but stays on
    ASSERT_EQ(scope.fourChannelView, 0);
    click(ButtonCursorV);
    clickAt(ImageScreen, 12 + 10, 250);
    ASSERT_EQ(grabbedLine(), "VLineL");
    dragTo(12 + 123, 250);
    for (int c = 0; c < state::ChannelCount; ++c) {
        auto guard = lock();
        EXPECT_EQ(scope.cursors[c].posVLineL, 123) << "channel " << c + 1;
    }
    EXPECT_EQ(tk::imagePixel(app::BitmapScreen, 123, 300), CursorColour);
    EXPECT_NE(tk::imagePixel(app::BitmapScreen, 10, 300), CursorColour);
}

// ---- The display freeze during a grab ----------------------------------------------------------

class CursorHold : public CursorFixture {};

TEST_F(CursorHold, GrabFreezesAndReleaseFollowsAReleasedHoldButton) {
    click(ButtonCursorH);
    clickAt(ImageScreen, 250, 22);
    ASSERT_EQ(grabbedLine(), "HLineO");
    EXPECT_EQ(scope.holdDisplay, 1);
    dragTo(250, 100);
    EXPECT_EQ(scope.holdDisplay, 1); // unlinked: frozen for the whole grab
    clickAt(ImageScreen, 250, 100);
    EXPECT_EQ(scope.draggingLine, 0);
    EXPECT_EQ(scope.holdDisplay, 0);
}

TEST_F(CursorHold, ReleaseKeepsTheDisplayHeldWhenHoldIsPressed) {
    click(ButtonHold);
    ASSERT_EQ(state(ButtonHold), 1);
    click(ButtonCursorH);
    clickAt(ImageScreen, 250, 22);
    ASSERT_EQ(grabbedLine(), "HLineO");
    clickAt(ImageScreen, 250, 60);
    EXPECT_EQ(scope.holdDisplay, 1);
}

TEST_F(CursorHold, HoldPressedDuringAGrabDecidesTheStateAfterTheRelease) {
    click(ButtonCursorH);
    clickAt(ImageScreen, 250, 22);
    ASSERT_EQ(grabbedLine(), "HLineO");
    click(ButtonHold); // toggles the flag (to 0) and presses the button
    ASSERT_EQ(state(ButtonHold), 1);
    clickAt(ImageScreen, 250, 60);
    EXPECT_EQ(scope.holdDisplay, 1);
}

} // namespace
} // namespace veltrace::apptest
