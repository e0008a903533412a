// The About window: one at a time, centred over the main window, its text line by line, and the
// Donate picture button, chosen and clicked as the user does it.
#include "gui_window_fixture.h"

#include "app/donate_picture.h"

#include <QApplication>
#include <QLabel>

#include <string>
#include <vector>

namespace veltrace::apptest {
namespace {

using app::AboutWindow;
using app::ButtonDonate;
using app::TextAbout;

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char ch : text) {
        if (ch == '\r') {
            lines.emplace_back();
        } else {
            lines.back() += ch;
        }
    }
    return lines;
}

int visibleWindowsTitled(const QString& title) {
    int count = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        count += top->isVisible() && top->windowTitle() == title ? 1 : 0;
    }
    return count;
}

class AboutFixture : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        // The user works in the main window: it is the active one when its menu is used.
        tk::access::windowWidget(app::MainWindow)->activateWindow();
        tk::access::flushPendingUpdates();
    }
};

class AboutWindowPlacement : public AboutFixture {};

TEST_F(AboutWindowPlacement, ChosenTwiceLeavesOneWindowCentredOverTheMainWindow) {
    ASSERT_EQ(tk::foregroundWindowNumber(), app::MainWindow);
    chooseMenu("About");
    tk::access::flushPendingUpdates(); // the new window may now be the active one
    chooseMenu("About");

    EXPECT_EQ(visibleWindowsTitled("About Veltrace V1.11"), 1);
    ASSERT_TRUE(tk::windowExists(AboutWindow));
    EXPECT_EQ(tk::windowInnerWidth(AboutWindow), 300);
    EXPECT_EQ(tk::windowInnerHeight(AboutWindow), 300);
    const int left =
        tk::windowLeft(app::MainWindow) +
        (tk::windowOuterWidth(app::MainWindow) - tk::windowOuterWidth(AboutWindow)) / 2;
    const int top =
        tk::windowTop(app::MainWindow) +
        (tk::windowOuterHeight(app::MainWindow) - tk::windowOuterHeight(AboutWindow)) / 2;
    EXPECT_EQ(tk::windowLeft(AboutWindow), std::max(0, left));
    EXPECT_EQ(tk::windowTop(AboutWindow), std::max(0, top));
    // Not where the main window is: the centring really moved it.
    EXPECT_NE(tk::windowLeft(AboutWindow), tk::windowLeft(app::MainWindow));
}

TEST_F(AboutWindowPlacement, ClosingItLeavesTheMainWindowAndTheScreenAsTheyWere) {
    const tk::Handle screen = tk::controlInfo(app::ImageScreen).image;
    chooseMenu("About");
    tk::access::windowWidget(AboutWindow)->close();
    turn();
    EXPECT_FALSE(tk::windowExists(AboutWindow));
    EXPECT_TRUE(tk::windowExists(app::MainWindow));
    EXPECT_EQ(scope.quitRequested, 0);
    EXPECT_EQ(tk::controlInfo(app::ImageScreen).image, screen);
}

class AboutWindowContents : public AboutFixture {};

TEST_F(AboutWindowContents, TextHasItsFourteenLinesCentred) {
    chooseMenu("About");
    const tk::ControlInfo text = tk::controlInfo(TextAbout);
    EXPECT_EQ(text.kind, tk::ControlKind::Label);
    EXPECT_EQ(text.window, AboutWindow);
    EXPECT_EQ(text.x, 10);
    EXPECT_EQ(text.y, 20);
    EXPECT_EQ(text.w, 280);
    EXPECT_EQ(text.h, 220);
    const std::vector<std::string> expected = {
        "Veltrace V1.11",
        "",
        "A visualization software for Kalnor and Merivand",
        "Written by Okrinsel",
        "",
        "",
        "",
        "",
        "",
        "For a detailed description of Veltrace's functions have a look at the supplied "
        "readme.txt ",
        "",
        "",
        "",
        "If you like Veltrace and want to support further development, feel free to make a "
        "donation. Thank you!",
    };
    EXPECT_EQ(splitLines(text.text), expected);
    auto* label = qobject_cast<QLabel*>(widget(TextAbout));
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
}

TEST_F(AboutWindowContents, DonateButtonShowsTheDecodedPicture) {
    chooseMenu("About");
    const tk::ControlInfo button = tk::controlInfo(ButtonDonate);
    EXPECT_EQ(button.kind, tk::ControlKind::PictureButton);
    EXPECT_EQ(button.window, AboutWindow);
    EXPECT_EQ(button.x, 108);
    EXPECT_EQ(button.y, 250);
    EXPECT_EQ(button.w, 82);
    EXPECT_EQ(button.h, 34);
    const auto picture = tk::imageGet(app::BitmapDonate);
    ASSERT_TRUE(picture);
    EXPECT_EQ(button.image, tk::imageHandle(app::BitmapDonate));
    EXPECT_EQ(picture->width, 80);
    EXPECT_EQ(picture->height, 32);
}

// The picture's own data: a BMP the decoder reads the right way up and in the right colours.
class DonatePicture : public ToolkitFixture {};

TEST_F(DonatePicture, HeaderDescribesAn80By32BitFieldsPicture) {
    const std::uint8_t* d = app::donatePicture;
    auto u32 = [d](int at) {
        return std::uint32_t(d[at]) | std::uint32_t(d[at + 1]) << 8 |
               std::uint32_t(d[at + 2]) << 16 | std::uint32_t(d[at + 3]) << 24;
    };
    EXPECT_EQ(d[0], 'B');
    EXPECT_EQ(d[1], 'M');
    EXPECT_EQ(u32(2), app::DonatePictureSize);
    EXPECT_EQ(u32(10), 138u);        // pixels
    EXPECT_EQ(u32(14), 124u);        // version-5 header
    EXPECT_EQ(u32(18), 80u);         // width
    EXPECT_EQ(u32(22), 32u);         // height, positive: bottom-up
    EXPECT_EQ(u32(30), 3u);          // bit fields
    EXPECT_EQ(u32(34), 10240u);      // image size
    EXPECT_EQ(u32(54), 0xFF000000u); // red mask
    EXPECT_EQ(u32(58), 0x00FF0000u); // green
    EXPECT_EQ(u32(62), 0x0000FF00u); // blue
    EXPECT_EQ(u32(66), 0x000000FFu); // alpha
    EXPECT_EQ(u32(70), 0x73524742u); // "sRGB"
}

TEST_F(DonatePicture, DecodesAsAGoldLabelWithDarkBlueLettering) {
    ASSERT_NE(tk::imageFromMemory(app::BitmapDonate, app::donatePicture, app::DonatePictureSize),
              0);
    auto pixel = [](int x, int y) {
        const std::int64_t p = tk::imagePixel(app::BitmapDonate, x, y);
        return std::vector<int>{int(p & 0xFF), int(p >> 8 & 0xFF), int(p >> 16 & 0xFF)};
    };
    // Light gold at the top shading to orange at the bottom: a decoder that ignores the
    // bottom-up order or the masks gets this the wrong way round or in other colours.
    const auto top = pixel(3, 3);
    const auto bottom = pixel(3, 28);
    EXPECT_GT(top[0], 200);
    EXPECT_LT(top[2], 140);
    EXPECT_GT(bottom[0], 200);
    EXPECT_GT(top[1], bottom[1]);
    // Lettering across the middle rows: dark blue pixels, blue above red.
    int ink = 0;
    for (int x = 0; x < 80; ++x) {
        for (int y = 8; y < 24; ++y) {
            const auto p = pixel(x, y);
            ink += p[2] > p[0] && p[0] < 80 ? 1 : 0;
        }
    }
    EXPECT_GT(ink, 100);
}

class AboutDonation : public AboutFixture {};

TEST_F(AboutDonation, EachClickHandsTheAddressToTheBrowserAndTheWindowStays) {
    chooseMenu("About");
    click(ButtonDonate);
    click(ButtonDonate);
    ASSERT_EQ(openedDocuments.size(), 2u);
    EXPECT_EQ(openedDocuments[0], app::donationAddress());
    EXPECT_EQ(openedDocuments[1], app::donationAddress());
    EXPECT_FALSE(std::string(app::donationAddress()).empty());
    EXPECT_TRUE(tk::windowExists(AboutWindow));
}

} // namespace
} // namespace veltrace::apptest
