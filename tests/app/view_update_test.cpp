// What a screen update leaves in the window's controls: the image displays, the panel texts, the
// readout texts and the single-shot buttons, seen through the toolkit's control record.
#include "app/app.h"

#include "app/controls.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace veltrace;

class PanelTest : public testing::Test {
  protected:
    void SetUp() override {
        state::resetScopeState();
        ASSERT_NE(toolkit::toolkitInit(), 0);
        ASSERT_NE(toolkit::windowOpen(app::MainWindow, 100, 150, 800, 560, "panel test",
                                      toolkit::WindowFixedCaption),
                  0);
        toolkit::imageDisplayCreate(app::ImageScreen, 0, 0, 512, 516, 1);
        for (int c = 0; c < state::ChannelCount; ++c) {
            toolkit::imageDisplayCreate(app::ImageChannel1 + c, 0, 132 * c, 512, 132, 1);
            for (int number :
                 {app::panelText(c, app::PanelRow::Volts), app::panelText(c, app::PanelRow::Time),
                  app::panelText(c, app::PanelRow::Timebase),
                  app::panelText(c, app::PanelRow::Trigger),
                  app::panelText(c, app::PanelRow::Switches)}) {
                toolkit::valueTextCreate(number, 520, 10 * number, 200, 20);
            }
        }
        toolkit::toggleButtonCreate(app::ButtonHold, 730, 10, 60, 20, "HOLD");
        toolkit::toggleButtonCreate(app::ButtonSingleShot, 730, 40, 60, 20, "SINGLE SHOT");
        for (int c = 0; c < state::ChannelCount; ++c) {
            state::scope.channel[c].timebaseText = "tb" + std::to_string(c);
            state::scope.channel[c].triggerText = "tr" + std::to_string(c);
            state::scope.channel[c].voltsText = "vs" + std::to_string(c);
        }
    }
    // The layer lets go of its windows and its application object here, not at exit.
    void TearDown() override { toolkit::toolkitEnd(); }

    static std::string text(int number) { return toolkit::controlTextGet(number); }
};

// ---- Image displays ----

class PanelImages : public PanelTest {};

TEST_F(PanelImages, ScreenDisplayShowsTheNewImage) {
    app::renderScreen();
    const toolkit::Handle shown = toolkit::controlInfo(app::ImageScreen).image;
    ASSERT_NE(shown, 0);
    EXPECT_EQ(shown, toolkit::imageHandle(app::BitmapScreen));
    const auto image = toolkit::imageByHandle(shown);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->rgb, toolkit::imageGet(app::BitmapScreen)->rgb);

    // Every update hands over a fresh image.
    app::renderScreen();
    EXPECT_NE(toolkit::controlInfo(app::ImageScreen).image, shown);
    EXPECT_EQ(toolkit::controlInfo(app::ImageScreen).image,
              toolkit::imageHandle(app::BitmapScreen));
}

TEST_F(PanelImages, StripGoesToItsOwnDisplayOnly) {
    state::scope.fourChannelView = 1;
    state::scope.currentChannel = 2;
    app::renderStrip(state::scope.currentChannel);
    EXPECT_EQ(toolkit::controlInfo(app::ImageChannel1 + 2).image, toolkit::imageHandle(3));
    EXPECT_EQ(toolkit::controlInfo(app::ImageChannel1 + 0).image, 0);
    EXPECT_EQ(toolkit::controlInfo(app::ImageChannel1 + 3).image, 0);
    EXPECT_EQ(toolkit::controlInfo(app::ImageScreen).image, 0);
}

// ---- Panel texts ----

class PanelTexts : public PanelTest {};

TEST_F(PanelTexts, ScreenShowsTheFirstChannelsTexts) {
    app::renderScreen();
    EXPECT_EQ(text(app::panelText(0, app::PanelRow::Timebase)), "tb0");
    EXPECT_EQ(text(app::panelText(0, app::PanelRow::Trigger)), "tr0");
    EXPECT_EQ(text(app::panelText(0, app::PanelRow::Switches)), "vs0");
    EXPECT_EQ(text(app::panelText(1, app::PanelRow::Timebase)), "");
}

TEST_F(PanelTexts, ScreenTakesElementZeroWhateverTheChannel) {
    state::scope.currentChannel = 1;
    app::renderScreen();
    EXPECT_EQ(text(app::panelText(0, app::PanelRow::Timebase)), "tb0");
    EXPECT_EQ(text(app::panelText(0, app::PanelRow::Switches)), "vs0");
    EXPECT_EQ(text(app::panelText(1, app::PanelRow::Timebase)), "");
}

TEST_F(PanelTexts, StripSetsOnlyItsChannelsTexts) {
    state::scope.fourChannelView = 1;
    state::scope.currentChannel = 3;
    app::renderStrip(state::scope.currentChannel);
    EXPECT_EQ(text(app::panelText(3, app::PanelRow::Timebase)), "tb3");
    EXPECT_EQ(text(app::panelText(3, app::PanelRow::Trigger)), "tr3");
    EXPECT_EQ(text(app::panelText(3, app::PanelRow::Switches)), "vs3");
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(text(app::panelText(c, app::PanelRow::Timebase)), "") << "channel " << c;
        EXPECT_EQ(text(app::panelText(c, app::PanelRow::Trigger)), "") << "channel " << c;
    }
}

// ---- Readout controls ----

class PanelReadout : public PanelTest {};

TEST_F(PanelReadout, ValueControlsOfTheChannelGetTheReadouts) {
    state::scope.fourChannelView = 1;
    state::scope.currentChannel = 1;
    state::scope.channel[1].voltsPerStep = 0.5f;
    state::scope.cursors[1].posHLineO = 10;
    state::scope.cursors[1].posHLineU = 50;
    app::renderStrip(state::scope.currentChannel);
    EXPECT_EQ(text(app::panelText(1, app::PanelRow::Volts)), "10.00V");
    EXPECT_EQ(text(app::panelText(1, app::PanelRow::Time)), "0.00\xB5s (0.00Hz)");
    EXPECT_EQ(text(app::panelText(0, app::PanelRow::Volts)), "");
    EXPECT_EQ(text(app::panelText(2, app::PanelRow::Time)), "");
}

TEST_F(PanelReadout, ReadoutIsSetWithoutCursorsToo) {
    state::scope.cursors[0].cursorMode = state::CursorMode::None;
    state::scope.channel[0].timePerSample = 1.0f;
    app::renderScreen();
    EXPECT_EQ(text(app::panelText(0, app::PanelRow::Time)), "0.12ms (8.13KHz)"); // 123 us
}

// ---- Single shot buttons ----

class PanelSingleShot : public PanelTest {};

TEST_F(PanelSingleShot, CompletedShotReleasesSingleShotAndPressesHold) {
    toolkit::controlStateSet(app::ButtonSingleShot, 1);
    state::scope.singleShotArmed = 1;
    app::renderScreen();
    EXPECT_EQ(toolkit::controlStateGet(app::ButtonSingleShot), 0);
    EXPECT_EQ(toolkit::controlStateGet(app::ButtonHold), 1);
    EXPECT_EQ(state::scope.holdDisplay.load(), 1);
}

// ---- Which picture an update changes ----

constexpr std::int64_t StripTraceCh3 = 0x00FF00;

void fillChannel(int c, int value) {
    state::scope.channel[static_cast<std::size_t>(c)].samples.fill(
        static_cast<std::uint8_t>(value));
}

class UpdatedPictures : public PanelTest {
  protected:
    void SetUp() override {
        PanelTest::SetUp();
        for (int n = 0; n <= 4; ++n) {
            toolkit::imageFree(n);
        }
    }
};

TEST_F(UpdatedPictures, OnlyTheStripOfTheUpdatedChannelChanges) {
    state::scope.fourChannelView = 1;
    for (int c = 0; c < 4; ++c) {
        fillChannel(c, 10 + 5 * c);
        app::renderStrip(c);
    }
    std::array<std::shared_ptr<const toolkit::Image>, 5> before;
    for (int n = 1; n <= 4; ++n) {
        before[static_cast<std::size_t>(n)] = toolkit::imageGet(n);
    }
    fillChannel(2, 50);
    app::renderStrip(2);
    for (int n : {1, 2, 4}) {
        EXPECT_EQ(toolkit::imageGet(n), before[static_cast<std::size_t>(n)]) << "strip " << n;
    }
    EXPECT_FALSE(toolkit::imageGet(0)); // the one-channel screen was never drawn
    ASSERT_TRUE(toolkit::imageGet(3));
    EXPECT_NE(toolkit::imageGet(3)->rgb, before[3]->rgb);
    EXPECT_EQ(toolkit::imagePixel(3, 10, 128 - 2 * 50), StripTraceCh3);
}

TEST_F(UpdatedPictures, RedrawCurrentViewFollowsTheViewFlagAndTheChannel) {
    state::scope.fourChannelView = 1;
    state::scope.currentChannel = 1;
    app::redrawCurrentView();
    EXPECT_TRUE(toolkit::imageGet(2));
    EXPECT_FALSE(toolkit::imageGet(0));
    state::scope.fourChannelView = 0;
    state::scope.currentChannel = 0;
    app::redrawCurrentView();
    ASSERT_TRUE(toolkit::imageGet(0));
    EXPECT_EQ(toolkit::imageGet(0)->height, 512);
}

TEST_F(UpdatedPictures, OnlyTheUpdatedChannelsReadoutIsComputed) {
    state::scope.readout[1].voltsReadout = "old";
    state::scope.readout[1].timeReadout = "old";
    state::scope.fourChannelView = 1;
    state::scope.channel[2].voltsPerStep = 1.0f;
    state::scope.cursors[2].posHLineO = 0;
    state::scope.cursors[2].posHLineU = 16;
    app::renderStrip(2);
    EXPECT_EQ(state::scope.readout[2].voltsReadout, "8.00V"); // 16 rows / 2 per step
    EXPECT_EQ(state::scope.readout[2].cursorDeltaY, 16);
    EXPECT_EQ(state::scope.readout[1].voltsReadout, "old");
    EXPECT_EQ(state::scope.readout[1].timeReadout, "old");
    EXPECT_EQ(state::scope.readout[0].voltsReadout, "");
    EXPECT_EQ(state::scope.readout[0].cursorDeltaY, 0);
}

// ---- Single shot ----

TEST_F(PanelSingleShot, AnArmedShotEndsInHoldAfterOneUpdateOfEitherView) {
    for (int view = 0; view < 2; ++view) {
        state::scope.fourChannelView = static_cast<std::uint8_t>(view);
        state::scope.holdDisplay = 0;
        state::scope.singleShotArmed = 1;
        app::redrawCurrentView();
        EXPECT_EQ(state::scope.singleShotArmed.load(), 0) << "view " << view;
        EXPECT_EQ(state::scope.holdDisplay.load(), 1) << "view " << view;
    }
}

TEST_F(PanelSingleShot, NothingIsHeldWhenNoShotIsArmed) {
    app::renderScreen();
    state::scope.fourChannelView = 1;
    app::renderStrip(0);
    EXPECT_EQ(state::scope.holdDisplay.load(), 0);
    EXPECT_EQ(state::scope.singleShotArmed.load(), 0);
}

// ---- Two threads updating at once ----

// The worker updates after frames while the main thread changes the cursors and updates under
// the lock, as a command does. Every picture the main thread sees under the lock must be the
// complete drawing of the state it set, never a half-drawn or foreign one.
TEST(ViewUpdateThreaded, UpdatesOfBothThreadsNeverOverlap) {
    state::resetScopeState();
    for (int i = 0; i < 129; ++i) {
        state::scope.channel[0].samples[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(20 + (i % 20));
    }
    const auto pixels = [] { return toolkit::imageGet(app::BitmapScreen)->rgb; };
    std::array<std::vector<std::uint8_t>, 2> expected;
    for (int mode = 0; mode < 2; ++mode) {
        state::scope.cursors[0].cursorMode =
            mode == 0 ? state::CursorMode::None : state::CursorMode::Both;
        app::renderScreen();
        expected[static_cast<std::size_t>(mode)] = pixels();
    }
    ASSERT_NE(expected[0], expected[1]);

    std::atomic<bool> stop{false};
    std::thread worker([&stop] {
        while (!stop.load()) {
            app::redrawCurrentView();
            // The real worker pauses between cycles too; a loop that takes the lock back at once
            // can starve the other thread for minutes (the mutex is not fair), notably under
            // ThreadSanitizer.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    int mismatches = 0;
    for (int round = 0; round < 20; ++round) {
        // A short rest outside the lock lets the worker in, as the event loop's pause does.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::lock_guard<std::recursive_mutex> guard(state::scopeLock());
        const int mode = round % 2;
        state::scope.cursors[0].cursorMode =
            mode == 0 ? state::CursorMode::None : state::CursorMode::Both;
        app::renderScreen();
        if (pixels() != expected[static_cast<std::size_t>(mode)]) {
            ++mismatches;
        }
    }
    stop = true;
    worker.join();
    EXPECT_EQ(mismatches, 0);
}

} // namespace
