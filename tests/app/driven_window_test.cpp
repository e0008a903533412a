// The main window driven as a person would, through the test driver: the same tests run on the
// Qt backend (Linux) and the Win32 backend (Windows, under Wine).
#include "app/app.h"
#include "app/controls.h"
#include "driver/gui_driver.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace veltrace;
namespace drive = testing_support::driver;
using state::scope;

class DrivenWindow : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(toolkit::toolkitInit(), 1);
        toolkit::setMessageBoxHook([](const std::string&, const std::string&, int) { return 1; });
        state::resetScopeState();
        ASSERT_EQ(app::buildMainWindow(), 1);
        drive::settle();
    }
    void TearDown() override {
        toolkit::toolkitEnd();
        toolkit::setMessageBoxHook(nullptr);
    }
    static int turn() {
        app::eventLoopTurn();
        return scope.lastEvent;
    }
};

TEST_F(DrivenWindow, OpensWithTheInnerSizeAndTheOneChannelControls) {
    EXPECT_EQ(toolkit::windowInnerWidth(app::MainWindow), 800);
    EXPECT_EQ(toolkit::windowInnerHeight(app::MainWindow), 560);
    for (int control : {app::ImageScreen, app::ButtonHold, app::ButtonCapture, 16, 19, 20, 21}) {
        EXPECT_TRUE(drive::shown(control)) << control;
    }
    for (int control : {app::ImageChannel1, 4, 5, 17, 18, 27, 30}) {
        EXPECT_FALSE(drive::shown(control)) << control;
    }
}

TEST_F(DrivenWindow, HoldClickedFlipsTheButtonAndHoldsTheDisplay) {
    drive::click(app::ButtonHold);
    EXPECT_EQ(toolkit::controlStateGet(app::ButtonHold), 1); // before the program sees it
    EXPECT_EQ(turn(), toolkit::EventControl);
    EXPECT_EQ(scope.holdDisplay.load(), 1);
    drive::click(app::ButtonHold);
    turn();
    EXPECT_EQ(toolkit::controlStateGet(app::ButtonHold), 0);
    EXPECT_EQ(scope.holdDisplay.load(), 0);
}

TEST_F(DrivenWindow, ThePictureDisplayShowsTheRenderedScreenInsideItsEdge) {
    for (int i = 0; i < state::SampleSlots; ++i) {
        scope.channel[0].samples[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(10 + (i * 7) % 40);
    }
    {
        std::lock_guard lock(state::scopeLock());
        app::renderScreen();
    }
    const auto rendered = toolkit::imageGet(app::BitmapScreen);
    ASSERT_TRUE(rendered);
    // The 508 x 512 control has a 2-pixel sunken edge: it shows the picture's top-left
    // 504 x 508 pixels, pixel (0, 0) at the control's (2, 2).
    const toolkit::Image shown = drive::pixels(app::ImageScreen);
    ASSERT_EQ(shown.width, rendered->width - 4);
    ASSERT_EQ(shown.height, rendered->height - 4);
    int differing = 0;
    for (int y = 0; y < shown.height; ++y) {
        for (int x = 0; x < shown.width; ++x) {
            for (int k = 0; k < 3; ++k) {
                differing +=
                    shown.rgb[static_cast<std::size_t>((y * shown.width + x) * 3 + k)] !=
                    rendered->rgb[static_cast<std::size_t>((y * rendered->width + x) * 3 + k)];
            }
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST_F(DrivenWindow, ClicksAndDoubleClicksOnThePictureArriveWithTheirTypes) {
    drive::clickAt(app::ImageScreen, 100, 100);
    ASSERT_EQ(toolkit::eventWait(0), toolkit::EventControl);
    EXPECT_EQ(toolkit::eventControl(), app::ImageScreen);
    EXPECT_EQ(toolkit::eventType(), 0);
    drive::doubleClickAt(app::ImageScreen, 100, 100);
    ASSERT_EQ(toolkit::eventWait(0), toolkit::EventControl);
    EXPECT_EQ(toolkit::eventType(), 0);
    ASSERT_EQ(toolkit::eventWait(0), toolkit::EventControl);
    EXPECT_EQ(toolkit::eventType(), 1);
}

TEST_F(DrivenWindow, ThePointerIsCountedFromTheAreaBelowTheMenuBar) {
    drive::movePointer(app::MainWindow, 12, 40);
    EXPECT_EQ(toolkit::pointerX(app::MainWindow), 12);
    EXPECT_EQ(toolkit::pointerY(app::MainWindow), 40);
    drive::movePointer(app::MainWindow, 0, 0); // the first column and row are inside
    EXPECT_EQ(toolkit::pointerX(app::MainWindow), 0);
    EXPECT_EQ(toolkit::pointerY(app::MainWindow), 0);
    // Outside on any side, both readings are -1, not only the one of the axis it left on.
    drive::movePointer(app::MainWindow, -3, 40);
    EXPECT_EQ(toolkit::pointerX(app::MainWindow), -1);
    EXPECT_EQ(toolkit::pointerY(app::MainWindow), -1);
    drive::movePointer(app::MainWindow, 799, 40); // the last column counts as the edge
    EXPECT_EQ(toolkit::pointerX(app::MainWindow), -1);
    EXPECT_EQ(toolkit::pointerY(app::MainWindow), -1);
    drive::movePointer(app::MainWindow, 12, -5); // over the menu bar
    EXPECT_EQ(toolkit::pointerX(app::MainWindow), -1);
    EXPECT_EQ(toolkit::pointerY(app::MainWindow), -1);
    const int lastRow = drive::areaHeight(app::MainWindow) - 1;
    drive::movePointer(app::MainWindow, 12, lastRow); // the last row counts as the edge
    EXPECT_EQ(toolkit::pointerX(app::MainWindow), -1);
    EXPECT_EQ(toolkit::pointerY(app::MainWindow), -1);
    drive::movePointer(app::MainWindow, 12, lastRow - 1);
    EXPECT_EQ(toolkit::pointerX(app::MainWindow), 12);
    EXPECT_EQ(toolkit::pointerY(app::MainWindow), lastRow - 1);
}

TEST_F(DrivenWindow, QuitFromTheMenuEndsTheLoop) {
    drive::chooseMenuItem(app::MenuQuit);
    EXPECT_EQ(toolkit::eventWait(0), toolkit::EventMenu);
    EXPECT_EQ(toolkit::eventMenuItem(), app::MenuQuit);
}

TEST_F(DrivenWindow, TheFourChannelSwitchResizesAndShowsTheStrips) {
    drive::click(app::ButtonChannelMode);
    turn();
    EXPECT_EQ(toolkit::windowInnerHeight(app::MainWindow), 575);
    for (int c = 0; c < 4; ++c) {
        EXPECT_TRUE(drive::shown(app::ImageChannel1 + c)) << c;
    }
    EXPECT_FALSE(drive::shown(app::ImageScreen));
}

} // namespace
