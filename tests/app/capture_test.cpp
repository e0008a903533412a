// Capture files: their names, the PNG written into the working directory with its text overlay,
// and captures that cannot be written.
#include "app/app.h"
#include "display/capture.h"

#include "app/controls.h"
#include "scratch_dir.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace veltrace;
namespace fs = std::filesystem;

// ---- File names ----

TEST(CaptureFileName, DateTimeAndChannelNumber) {
    const std::int64_t date = toolkit::dateFromFields(2026, 12, 7, 21, 6, 5);
    EXPECT_EQ(display::captureFileName(date, 0), "2026-12-07_21-06-05_CH1.PNG");
    EXPECT_EQ(display::captureFileName(date, 3), "2026-12-07_21-06-05_CH4.PNG");
}

// ---- Captures on disk ----

struct Png {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

Png readPng(const fs::path& path) {
    Png result;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.string().c_str()) == 0) {
        return result;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> buffer(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr) == 0) {
        png_image_free(&image);
        return result;
    }
    result.width = static_cast<int>(image.width);
    result.height = static_cast<int>(image.height);
    result.rgb = std::move(buffer);
    return result;
}

std::vector<fs::path> pngFilesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        if (entry.path().extension() == ".PNG") {
            files.push_back(entry.path());
        }
    }
    return files;
}

// A rectangle of rows [top, bottom) and columns [left, right).
struct Area {
    int left, top, right, bottom;
    bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

class CaptureTest : public testing::Test {
  protected:
    void SetUp() override {
        state::resetScopeState();
        for (int n = 0; n <= 4; ++n) {
            toolkit::imageFree(n);
        }
        ASSERT_NE(toolkit::toolkitInit(), 0);
        ASSERT_NE(toolkit::windowOpen(app::MainWindow, 100, 150, 800, 560, "capture test",
                                      toolkit::WindowFixedCaption),
                  0);
        toolkit::imageDisplayCreate(app::ImageScreen, 0, 0, 512, 516, 1);
        for (int c = 0; c < state::ChannelCount; ++c) {
            toolkit::imageDisplayCreate(app::ImageChannel1 + c, 0, 132 * c, 512, 132, 1);
        }
        toolkit::toggleButtonCreate(app::ButtonHold, 730, 10, 60, 20, "HOLD");
        toolkit::toggleButtonCreate(app::ButtonSingleShot, 730, 40, 60, 20, "SINGLE SHOT");
        ASSERT_NE(toolkit::fontLoad(app::FontCapture, "Arial", 8), 0);

        for (int c = 0; c < state::ChannelCount; ++c) {
            state::scope.channel[c].timebaseText = "1ms -> 10ms/div";
            state::scope.channel[c].voltsText = "DC 10V -> 1V/div";
            state::scope.channel[c].voltsPerStep = 0.5f;
            state::scope.channel[c].timePerSample = 0.25f;
            for (int i = 0; i < state::SampleSlots; ++i) {
                state::scope.channel[c].samples[i] = static_cast<std::uint8_t>(20 + (i % 16));
            }
        }

        previousDir_ = fs::current_path();
        workDir_ = testing_support::makeScratchDirectory("veltrace-capture-");
        ASSERT_FALSE(workDir_.empty());
        fs::current_path(workDir_);
    }

    void TearDown() override {
        fs::current_path(previousDir_);
        std::error_code error;
        fs::remove_all(workDir_, error);
        // The layer lets go of its windows and its application object here, not at exit.
        toolkit::toolkitEnd();
    }

    // The current view drawn without the overlay, with the state as it is now.
    static std::vector<std::uint8_t> plainImage(int imageNumber) {
        app::redrawCurrentView();
        return toolkit::imageGet(imageNumber)->rgb;
    }

    // The single capture file of this test, checked to be named for `channel` at a time between
    // `before` and now.
    Png theCapture(std::int64_t before, int channel) {
        const auto files = pngFilesIn(workDir_);
        EXPECT_EQ(files.size(), 1u);
        if (files.empty()) {
            return {};
        }
        std::set<std::string> names;
        for (std::int64_t d = before; d <= toolkit::dateNow(); ++d) {
            names.insert(display::captureFileName(d, channel));
        }
        EXPECT_TRUE(names.count(files[0].filename().string()) == 1) << files[0];
        return readPng(files[0]);
    }

    fs::path previousDir_;
    fs::path workDir_;
};

bool whiteish(const std::vector<std::uint8_t>& rgb, std::size_t pixel) {
    return rgb[3 * pixel] >= 0xC0 && rgb[3 * pixel + 1] >= 0xC0 && rgb[3 * pixel + 2] >= 0xC0;
}

// Counts the pixels where `capture` differs from `plain`: inside the areas (white-ish ones per
// area) and outside all of them.
struct OverlayCount {
    std::vector<int> whiteInside;
    int changedOutside = 0;
};

OverlayCount compareOverlay(const Png& capture, const std::vector<std::uint8_t>& plain,
                            const std::vector<Area>& areas) {
    OverlayCount count;
    count.whiteInside.assign(areas.size(), 0);
    for (int y = 0; y < capture.height; ++y) {
        for (int x = 0; x < capture.width; ++x) {
            const std::size_t p = static_cast<std::size_t>(y) * capture.width + x;
            const bool changed = capture.rgb[3 * p] != plain[3 * p] ||
                                 capture.rgb[3 * p + 1] != plain[3 * p + 1] ||
                                 capture.rgb[3 * p + 2] != plain[3 * p + 2];
            if (!changed) {
                continue;
            }
            bool inside = false;
            for (std::size_t a = 0; a < areas.size(); ++a) {
                if (areas[a].contains(x, y)) {
                    inside = true;
                    count.whiteInside[a] += whiteish(capture.rgb, p) ? 1 : 0;
                }
            }
            count.changedOutside += inside ? 0 : 1;
        }
    }
    return count;
}

// An 8-point font is 11 pixels high at 96 dpi; its text cells fit in 16 rows.
constexpr Area ScreenFirstLine{4, 4, 508, 21};
constexpr Area ScreenSecondLine{4, 494, 508, 512};
constexpr Area StripFirstLine{4, 0, 508, 16};
constexpr Area StripSecondLine{4, 114, 508, 128};

class CaptureFiles : public CaptureTest {};

TEST_F(CaptureFiles, ScreenCaptureIsWrittenWithItsOverlay) {
    state::scope.cursors[0].cursorMode = state::CursorMode::Both;
    const auto plain = plainImage(0);
    const std::int64_t before = toolkit::dateNow();
    app::captureCurrentView();
    const Png png = theCapture(before, 0);
    ASSERT_EQ(png.width, 508);
    ASSERT_EQ(png.height, 512);
    const OverlayCount count = compareOverlay(png, plain, {ScreenFirstLine, ScreenSecondLine});
    EXPECT_GT(count.whiteInside[0], 20);
    EXPECT_GT(count.whiteInside[1], 20);
    EXPECT_EQ(count.changedOutside, 0);
}

TEST_F(CaptureFiles, StripCaptureSavesOnlyThatStripUnderItsChannelNumber) {
    state::scope.fourChannelView = 1;
    state::scope.currentChannel = 2;
    state::scope.cursors[2].cursorMode = state::CursorMode::Horizontal;
    const auto plain = plainImage(3);
    const std::int64_t before = toolkit::dateNow();
    app::captureCurrentView();
    const Png png = theCapture(before, 2);
    ASSERT_EQ(png.width, 508);
    ASSERT_EQ(png.height, 128);
    const OverlayCount count = compareOverlay(png, plain, {StripFirstLine, StripSecondLine});
    EXPECT_GT(count.whiteInside[0], 20);
    EXPECT_GT(count.whiteInside[1], 5);
    EXPECT_EQ(count.changedOutside, 0);
}

TEST_F(CaptureFiles, WithoutCursorsOnlyTheFirstLineIsDrawn) {
    const auto plain = plainImage(0);
    const std::int64_t before = toolkit::dateNow();
    app::captureCurrentView();
    const Png png = theCapture(before, 0);
    ASSERT_EQ(png.height, 512);
    const OverlayCount count = compareOverlay(png, plain, {ScreenFirstLine});
    EXPECT_GT(count.whiteInside[0], 20);
    EXPECT_EQ(count.changedOutside, 0);
}

// The overlay is exactly the two lines of text drawn in white, transparently, with the readouts
// of the update before the capture.
TEST_F(CaptureFiles, OverlayCarriesTheTextsOfThePreviousReadout) {
    state::scope.cursors[0].cursorMode = state::CursorMode::Both;
    app::renderScreen();
    const std::string volts = state::scope.readout[0].voltsReadout;
    const std::string time = state::scope.readout[0].timeReadout;
    // A new scale changes the readout but not the picture.
    state::scope.channel[0].voltsPerStep = 2.0f;
    state::scope.channel[0].timePerSample = 4.0f;

    const std::int64_t before = toolkit::dateNow();
    app::captureCurrentView();
    const Png png = theCapture(before, 0);
    EXPECT_NE(state::scope.readout[0].voltsReadout, volts);

    // The overlay drawn by hand on a copy of the window's picture (which is not ours to change).
    app::renderScreen();
    constexpr int Scratch = 9;
    toolkit::imageStore(Scratch, std::make_shared<toolkit::Image>(*toolkit::imageGet(0)));
    ASSERT_NE(toolkit::drawingBegin(Scratch), 0);
    toolkit::drawingModeSet(toolkit::DrawingModeTransparent);
    toolkit::drawingFontSet(toolkit::fontHandle(app::FontCapture));
    toolkit::frontColourSet(0xFFFFFF);
    toolkit::drawText(5, 5, "1ms -> 10ms/div; DC 10V -> 1V/div");
    toolkit::drawText(5, 495, time + "; " + volts);
    toolkit::drawingEnd();
    EXPECT_TRUE(png.rgb == toolkit::imageGet(Scratch)->rgb);
    toolkit::imageFree(Scratch);
}

// The capture is drawn once: the file gets the text, the window the same picture without it.
TEST_F(CaptureFiles, WindowShowsThePictureWithoutTheOverlay) {
    state::scope.cursors[0].cursorMode = state::CursorMode::Vertical;
    const auto plain = plainImage(0);
    const std::int64_t before = toolkit::dateNow();
    app::captureCurrentView();
    const auto shown = toolkit::imageByHandle(toolkit::controlInfo(app::ImageScreen).image);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->rgb, plain);
    EXPECT_NE(theCapture(before, 0).rgb, plain);
}

TEST_F(CaptureFiles, CaptureWhileSingleShotArmedCompletesIt) {
    toolkit::controlStateSet(app::ButtonSingleShot, 1);
    state::scope.singleShotArmed = 1;
    const std::int64_t before = toolkit::dateNow();
    app::captureCurrentView();
    EXPECT_EQ(theCapture(before, 0).height, 512);
    EXPECT_EQ(state::scope.singleShotArmed.load(), 0);
    EXPECT_EQ(state::scope.holdDisplay.load(), 1);
    EXPECT_EQ(toolkit::controlStateGet(app::ButtonSingleShot), 0);
    EXPECT_EQ(toolkit::controlStateGet(app::ButtonHold), 1);
}

// ---- Captures that cannot be written ----

class CaptureFailure : public CaptureTest {};

TEST_F(CaptureFailure, VanishedWorkingDirectoryLeavesNoFileAndTheUpdateGoesOn) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows does not remove a process's current directory";
#endif
    const fs::path gone = workDir_ / "gone";
    fs::create_directory(gone);
    fs::current_path(gone);
    fs::remove(gone); // the process now sits in a directory that no longer exists

    state::scope.cursors[0].cursorMode = state::CursorMode::Both;
    state::scope.singleShotArmed = 1;
    app::captureCurrentView();

    fs::current_path(workDir_);
    EXPECT_TRUE(pngFilesIn(workDir_).empty());
    EXPECT_TRUE(fs::is_empty(workDir_));
    // The screen was still drawn, shown and measured, and the single shot completed.
    EXPECT_EQ(toolkit::controlInfo(app::ImageScreen).image, toolkit::imageHandle(0));
    EXPECT_EQ(toolkit::imagePixel(0, 80, 100), 0x888888);
    EXPECT_EQ(state::scope.readout[0].voltsReadout, "30.75V");
    EXPECT_EQ(state::scope.holdDisplay.load(), 1);
    EXPECT_EQ(state::scope.singleShotArmed.load(), 0);
}

} // namespace
