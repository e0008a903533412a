// The About window: one at a time, centred over the main window, its text line by line, and the
// Donate picture button, chosen and clicked as the user does it.
#include "gui_window_fixture.h"

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
    chooseMenu(app::MenuAbout);
    tk::access::flushPendingUpdates(); // the new window may now be the active one
    chooseMenu(app::MenuAbout);

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

class AboutWindowContents : public AboutFixture {};

TEST_F(AboutWindowContents, TextHasItsFourteenLinesCentred) {
    chooseMenu(app::MenuAbout);
    const tk::ControlInfo text = tk::controlInfo(TextAbout);
    EXPECT_EQ(text.window, AboutWindow);
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

// The Donate button shows the picture the program carries, decoded the right way up and in the
// right colours: a light gold label shading to orange, with dark blue lettering.
TEST_F(AboutWindowContents, DonateButtonShowsTheGoldLabelTheRightWayUp) {
    chooseMenu(app::MenuAbout);
    const tk::ControlInfo button = tk::controlInfo(ButtonDonate);
    EXPECT_EQ(button.kind, tk::ControlKind::PictureButton);
    const auto picture = tk::imageByHandle(button.image);
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->width, 80);
    ASSERT_EQ(picture->height, 32);
    auto pixel = [&picture](int x, int y) {
        const std::uint8_t* p = picture->rgb.data() + (std::size_t(y) * 80 + x) * 3;
        return std::vector<int>{p[0], p[1], p[2]};
    };
    // A decoder that ignored the bottom-up rows or the channel masks gets these the wrong way
    // round or in other colours.
    const auto top = pixel(3, 3);
    const auto bottom = pixel(3, 28);
    EXPECT_GT(top[0], 200);
    EXPECT_LT(top[2], 140);
    EXPECT_GT(bottom[0], 200);
    EXPECT_GT(top[1], bottom[1]);
    int ink = 0;
    for (int y = 8; y < 24; ++y) {
        for (int x = 0; x < 80; ++x) {
            const auto p = pixel(x, y);
            ink += p[2] > p[0] && p[0] < 80 ? 1 : 0;
        }
    }
    EXPECT_GT(ink, 100);
}

class AboutDonation : public AboutFixture {};

TEST_F(AboutDonation, EachClickHandsTheAddressToTheBrowserAndTheWindowStays) {
    chooseMenu(app::MenuAbout);
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
