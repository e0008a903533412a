// CAPTURE as the user takes it: a real click on the button, the program's loop turn, and what
// lands in the working directory and in the window.
#include "gui_window_fixture.h"

#include "app/app.h"
#include "display/capture.h"

#include <QImage>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace veltrace::apptest {
namespace {

using app::ButtonCapture;

// A rectangle of columns [left, right) and rows [top, bottom).
struct Area {
    int left, top, right, bottom;
};

// The two overlay lines of the one-channel screen: an 8-point text cell starting at (5, 5) and
// at (5, 495).
constexpr Area FirstLine{5, 5, 300, 21};
constexpr Area SecondLine{5, 495, 200, 511};

bool whiteish(QRgb pixel) {
    return qRed(pixel) > 160 && qGreen(pixel) > 160 && qBlue(pixel) > 160;
}

int whiteishIn(const QImage& image, const Area& area) {
    int count = 0;
    for (int y = area.top; y < area.bottom && y < image.height(); ++y) {
        for (int x = area.left; x < area.right && x < image.width(); ++x) {
            count += whiteish(image.pixel(x, y)) ? 1 : 0;
        }
    }
    return count;
}

// The image a display control shows, as a QImage.
QImage shownImage(int control) {
    const auto image = tk::imageByHandle(tk::controlInfo(control).image);
    if (!image) {
        return QImage();
    }
    QImage copy(image->width, image->height, QImage::Format_RGB888);
    for (int y = 0; y < image->height; ++y) {
        std::memcpy(copy.scanLine(y), image->rgb.data() + std::size_t(y) * image->width * 3,
                    std::size_t(image->width) * 3);
    }
    return copy;
}

std::vector<fs::path> pngFilesIn(const fs::path& directory) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(directory, error)) {
        if (entry.path().extension() == ".PNG") {
            files.push_back(entry.path());
        }
    }
    return files;
}

class CaptureFlow : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        std::lock_guard<std::recursive_mutex> guard(state::scopeLock());
        // Texts as a decoded frame leaves them, so the overlay has something to say.
        for (int c = 0; c < state::ChannelCount; ++c) {
            scope.channel[c].timebaseText = "1ms -> 10ms/div";
            scope.channel[c].voltsText = "DC 10V -> 1V/div";
            scope.channel[c].triggerText = "AUTO";
        }
    }

    // Clicks CAPTURE and returns the file name the capture must have, read from the clock on
    // both sides of the click (a second may tick over in between).
    std::vector<std::string> captureNow(int channel) {
        const std::string before = display::captureFileName(tk::dateNow(), channel);
        click(ButtonCapture);
        const std::string after = display::captureFileName(tk::dateNow(), channel);
        return {before, after};
    }

    static bool oneOf(const std::string& name, const std::vector<std::string>& names) {
        return std::find(names.begin(), names.end(), name) != names.end();
    }
};

TEST_F(CaptureFlow, ButtonWritesTheScreenWithItsOverlayAndTheWindowShowsItWithout) {
    click(app::ButtonCursorH); // the second line then carries the Volts readout
    const auto names = captureNow(0);

    const auto files = pngFilesIn(scratch.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(oneOf(files[0].filename().string(), names)) << files[0];
    EXPECT_NE(files[0].filename().string().find("_CH1.PNG"), std::string::npos);

    QImage saved(QString::fromStdString(files[0].string()));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.width(), display::ScreenGeometry.width);
    EXPECT_EQ(saved.height(), display::ScreenGeometry.height);
    EXPECT_GT(whiteishIn(saved, FirstLine), 20);
    EXPECT_GT(whiteishIn(saved, SecondLine), 5);

    const QImage shown = shownImage(app::ImageScreen);
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(whiteishIn(shown, FirstLine), 0);
    EXPECT_EQ(whiteishIn(shown, SecondLine), 0);
    // Apart from the overlay the two are the same picture.
    EXPECT_EQ(saved.convertToFormat(QImage::Format_RGB888).pixel(250, 256), shown.pixel(250, 256));
}

TEST_F(CaptureFlow, WorksWhileHeldAndLeavesTheDisplayHeld) {
    click(app::ButtonHold);
    ASSERT_EQ(scope.holdDisplay, 1);
    captureNow(0);
    EXPECT_EQ(pngFilesIn(scratch.path()).size(), 1u);
    EXPECT_EQ(scope.holdDisplay, 1);
    EXPECT_EQ(state(app::ButtonHold), 1);
}

TEST_F(CaptureFlow, CompletesAnArmedSingleShot) {
    click(app::ButtonSingleShot);
    ASSERT_EQ(scope.singleShotArmed, 1);
    captureNow(0);
    EXPECT_EQ(pngFilesIn(scratch.path()).size(), 1u);
    EXPECT_EQ(scope.singleShotArmed, 0);
    EXPECT_EQ(scope.holdDisplay, 1);
    EXPECT_EQ(state(app::ButtonHold), 1);
    EXPECT_EQ(state(app::ButtonSingleShot), 0);
}

TEST_F(CaptureFlow, VanishedWorkingDirectoryLeavesNoFileAndTheProgramRunsOn) {
    const fs::path gone = scratch.path() / "gone";
    fs::create_directories(gone);
    fs::current_path(gone);
    fs::remove(gone);

    const tk::Handle before = tk::controlInfo(app::ImageScreen).image;
    click(ButtonCapture);
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(pngFilesIn(scratch.path()).empty());
    // The update went on: the window got a fresh screen, and the next command works.
    EXPECT_NE(tk::controlInfo(app::ImageScreen).image, before);
    EXPECT_EQ(whiteishIn(shownImage(app::ImageScreen), FirstLine), 0);
    click(app::ButtonHold);
    EXPECT_EQ(scope.holdDisplay, 1);
}

TEST(CaptureFlowFileName, FixedDateAndChannelGiveThePaddedName) {
    EXPECT_EQ(display::captureFileName(tk::dateFromFields(2031, 1, 2, 3, 4, 9), 3),
              "2031-01-02_03-04-09_CH4.PNG");
}

} // namespace
} // namespace veltrace::apptest
