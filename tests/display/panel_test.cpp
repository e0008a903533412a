// What an update leaves in the window's controls: the image displays, the panel texts, the
// readout texts and the single-shot buttons, seen through the toolkit's control record.
#include "display/display.h"

#include "app/controls.h"
#include "app/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace veltrace;

class PanelTest : public testing::Test {
  protected:
    void SetUp() override {
        app::resetScopeState();
        ASSERT_NE(toolkit::toolkitInit(), 0);
        ASSERT_NE(toolkit::windowOpen(app::MainWindow, 100, 150, 800, 560, "panel test",
                                      toolkit::WindowFixedCaption),
                  0);
        toolkit::imageDisplayCreate(app::ImageScreen, 0, 0, 512, 516, 1);
        for (int c = 0; c < app::ChannelCount; ++c) {
            toolkit::imageDisplayCreate(app::ImageChannel1 + c, 0, 132 * c, 512, 132, 1);
            for (int number : {app::textVolts(c), app::textTime(c), app::textTimebase(c),
                               app::textTrigger(c), app::textSwitches(c)}) {
                toolkit::valueTextCreate(number, 520, 10 * number, 200, 20);
            }
        }
        toolkit::toggleButtonCreate(app::ButtonHold, 730, 10, 60, 20, "HOLD");
        toolkit::toggleButtonCreate(app::ButtonSingleShot, 730, 40, 60, 20, "SINGLE SHOT");
        for (int c = 0; c < app::ChannelCount; ++c) {
            app::scope.timebaseText[c] = "tb" + std::to_string(c);
            app::scope.triggerText[c] = "tr" + std::to_string(c);
            app::scope.voltsText[c] = "vs" + std::to_string(c);
        }
    }
    // The layer lets go of its windows and its application object here, not at exit.
    void TearDown() override { toolkit::toolkitEnd(); }

    static std::string text(int number) { return toolkit::controlTextGet(number); }
};

// ---- Image displays ----

class PanelImages : public PanelTest {};

TEST_F(PanelImages, ScreenDisplayShowsTheNewImage) {
    display::renderScreen(0);
    const toolkit::Handle shown = toolkit::controlInfo(app::ImageScreen).image;
    ASSERT_NE(shown, 0);
    EXPECT_EQ(shown, toolkit::imageHandle(app::BitmapScreen));
    const auto image = toolkit::imageByHandle(shown);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rgb, toolkit::imageGet(app::BitmapScreen)->rgb);

    // Every update hands over a fresh image.
    display::renderScreen(0);
    EXPECT_NE(toolkit::controlInfo(app::ImageScreen).image, shown);
    EXPECT_EQ(toolkit::controlInfo(app::ImageScreen).image,
              toolkit::imageHandle(app::BitmapScreen));
}

TEST_F(PanelImages, StripGoesToItsOwnDisplayOnly) {
    app::scope.fourChannelView = 1;
    app::scope.currentChannel = 2;
    display::renderStrip(0);
    EXPECT_EQ(toolkit::controlInfo(app::ImageChannel1 + 2).image, toolkit::imageHandle(3));
    EXPECT_EQ(toolkit::controlInfo(app::ImageChannel1 + 0).image, 0);
    EXPECT_EQ(toolkit::controlInfo(app::ImageChannel1 + 3).image, 0);
    EXPECT_EQ(toolkit::controlInfo(app::ImageScreen).image, 0);
}

// ---- Panel texts ----

class PanelTexts : public PanelTest {};

TEST_F(PanelTexts, ScreenShowsTheFirstChannelsTexts) {
    display::renderScreen(0);
    EXPECT_EQ(text(app::textTimebase(0)), "tb0");
    EXPECT_EQ(text(app::textTrigger(0)), "tr0");
    EXPECT_EQ(text(app::textSwitches(0)), "vs0");
    EXPECT_EQ(text(app::textTimebase(1)), "");
}

TEST_F(PanelTexts, ScreenTakesElementZeroWhateverTheChannel) {
    app::scope.currentChannel = 1;
    display::renderScreen(0);
    EXPECT_EQ(text(app::textTimebase(0)), "tb0");
    EXPECT_EQ(text(app::textSwitches(0)), "vs0");
    EXPECT_EQ(text(app::textTimebase(1)), "");
}

TEST_F(PanelTexts, StripSetsOnlyItsChannelsTexts) {
    app::scope.fourChannelView = 1;
    app::scope.currentChannel = 3;
    display::renderStrip(0);
    EXPECT_EQ(text(app::textTimebase(3)), "tb3");
    EXPECT_EQ(text(app::textTrigger(3)), "tr3");
    EXPECT_EQ(text(app::textSwitches(3)), "vs3");
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(text(app::textTimebase(c)), "") << "channel " << c;
        EXPECT_EQ(text(app::textTrigger(c)), "") << "channel " << c;
    }
}

// ---- Readout controls ----

class PanelReadout : public PanelTest {};

TEST_F(PanelReadout, ValueControlsOfTheChannelGetTheReadouts) {
    app::scope.fourChannelView = 1;
    app::scope.currentChannel = 1;
    app::scope.voltsPerStep[1] = 0.5f;
    app::scope.posHLineO[1] = 10;
    app::scope.posHLineU[1] = 50;
    display::renderStrip(0);
    EXPECT_EQ(text(app::textVolts(1)), "10.00V");
    EXPECT_EQ(text(app::textTime(1)), "0.00\xB5s (0.00Hz)");
    EXPECT_EQ(text(app::textVolts(0)), "");
    EXPECT_EQ(text(app::textTime(2)), "");
}

TEST_F(PanelReadout, ReadoutIsSetWithoutCursorsToo) {
    app::scope.cursorMode[0] = 0;
    app::scope.timePerSample[0] = 1.0f;
    display::renderScreen(0);
    EXPECT_EQ(text(app::textTime(0)), "0.12ms (8.13KHz)"); // 123 us
}

// ---- Single shot buttons ----

class PanelSingleShot : public PanelTest {};

TEST_F(PanelSingleShot, CompletedShotReleasesSingleShotAndPressesHold) {
    toolkit::controlStateSet(app::ButtonSingleShot, 1);
    app::scope.singleShotArmed = 1;
    display::renderScreen(0);
    EXPECT_EQ(toolkit::controlStateGet(app::ButtonSingleShot), 0);
    EXPECT_EQ(toolkit::controlStateGet(app::ButtonHold), 1);
    EXPECT_EQ(app::scope.holdDisplay.load(), 1);
}

} // namespace
