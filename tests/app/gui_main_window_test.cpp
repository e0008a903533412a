// The main window as start-up builds it: frame, menu, and the 58 controls with their numbers,
// kinds, captions, places and first visibility.
#include "gui_window_fixture.h"

#include <QIcon>
#include <QImage>
#include <QMenuBar>

#include <set>

namespace veltrace::apptest {
namespace {

using Kind = tk::ControlKind;

struct Expected {
    int number;
    Kind kind;
    std::string caption;
    int x, y, w, h;
    bool visible;
};

// The fixed controls, straight from the window's drawing.
const Expected fixedControls[] = {
    {1, Kind::PushButton, "CAPTURE", 700, 200, 85, 25, true},
    {2, Kind::ToggleButton, "SINGLE SHOT", 700, 160, 85, 25, true},
    {3, Kind::ToggleButton, "1CH<->4CH", 700, 80, 85, 25, true},
    {4, Kind::ToggleButton, "GR_V", 745, 40, 40, 25, false},
    {5, Kind::ToggleButton, "GR_H", 700, 40, 40, 25, false},
    {6, Kind::ToggleButton, "=", 700, 10, 25, 25, true},
    {7, Kind::ToggleButton, "||", 730, 10, 25, 25, true},
    {8, Kind::ToggleButton, "#", 760, 10, 25, 25, true},
    {10, Kind::ImageDisplay, "", 10, 10, 508, 512, true},
    {11, Kind::ImageDisplay, "", 10, 10, 512, 128, false},
    {12, Kind::ImageDisplay, "", 10, 143, 512, 128, false},
    {13, Kind::ImageDisplay, "", 10, 276, 512, 128, false},
    {14, Kind::ImageDisplay, "", 10, 409, 512, 128, false},
    {15, Kind::ToggleButton, "HOLD", 700, 120, 85, 25, true},
};

// The channel blocks: row k of channel c, numbers as listed per row and channel.
std::vector<Expected> channelControls() {
    const char* captions[5] = {"Volts:", "Time(Frq):", "Timebase:", "Trigger:", "Switches:"};
    const int options[4] = {16, 27, 38, 49};
    const int texts[5][4] = {
        {17, 28, 39, 50}, {18, 29, 40, 51}, {19, 30, 41, 52}, {20, 31, 42, 53}, {21, 32, 43, 54}};
    const int labels[5][4] = {
        {22, 33, 44, 55}, {23, 34, 45, 56}, {24, 35, 46, 57}, {25, 36, 47, 58}, {26, 37, 48, 59}};
    std::vector<Expected> all;
    for (int c = 0; c < 4; ++c) {
        // Only CH1's option and its Timebase, Trigger and Switches rows show at first.
        all.push_back({options[c], Kind::OptionButton, "CH" + std::to_string(c + 1), 540,
                       10 + 133 * c, 50, 20, c == 0});
        for (int k = 0; k < 5; ++k) {
            const bool shown = c == 0 && k >= 2;
            all.push_back({labels[k][c], Kind::Label, captions[k], 540, 32 + 133 * c + 20 * k, 50,
                           20, shown});
            all.push_back(
                {texts[k][c], Kind::ValueText, "", 590, 30 + 133 * c + 20 * k, 100, 20, shown});
        }
    }
    return all;
}

void expectControl(const Expected& e) {
    SCOPED_TRACE("control " + std::to_string(e.number));
    const tk::ControlInfo info = tk::controlInfo(e.number);
    EXPECT_EQ(info.kind, e.kind);
    EXPECT_EQ(info.window, app::MainWindow);
    EXPECT_EQ(info.text, e.caption);
    EXPECT_EQ(info.x, e.x);
    EXPECT_EQ(info.y, e.y);
    EXPECT_EQ(info.w, e.w);
    EXPECT_EQ(info.h, e.h);
    EXPECT_EQ(info.visible, e.visible);
}

using MainWindowLayout = MainWindowFixture;

TEST_F(MainWindowLayout, EveryControlHasItsKindCaptionPlaceAndFirstVisibility) {
    std::set<int> numbers;
    for (const Expected& e : fixedControls) {
        expectControl(e);
        numbers.insert(e.number);
    }
    for (const Expected& e : channelControls()) {
        expectControl(e);
        numbers.insert(e.number);
    }
    EXPECT_EQ(numbers.size(), 58u);
    // Nothing else lives in the window: 9 is unused and 60..64 belong to the other windows.
    for (int unused : {9, 60, 61, 62, 63, 64}) {
        EXPECT_EQ(tk::controlInfo(unused).kind, Kind::None) << unused;
    }
}

TEST_F(MainWindowLayout, StartsWithChannelOneSelectedAndEveryButtonReleased) {
    EXPECT_EQ(state(app::optionChannel(0)), 1);
    for (int c = 1; c < 4; ++c) {
        EXPECT_EQ(state(app::optionChannel(c)), 0) << c;
    }
    for (int button : {2, 3, 4, 5, 6, 7, 8, 15}) {
        EXPECT_EQ(state(button), 0) << button;
    }
    // The widgets agree with the record once the loop has brought them up to date.
    turn();
    EXPECT_TRUE(widget(app::optionChannel(0))->isVisible());
    EXPECT_FALSE(widget(app::optionChannel(1))->isVisible());
    EXPECT_FALSE(widget(app::ImageChannel1)->isVisible());
}

using MainWindowFrame = MainWindowFixture;

TEST_F(MainWindowFrame, TitleAndInnerSize) {
    EXPECT_EQ(tk::access::windowWidget(app::MainWindow)->windowTitle(), QString("Veltrace V1.11"));
    EXPECT_EQ(tk::windowInnerWidth(app::MainWindow), 800);
    EXPECT_EQ(tk::windowInnerHeight(app::MainWindow), 560);
    // The program's own little scope face, not the platform's empty default.
    const QIcon icon = tk::access::windowWidget(app::MainWindow)->windowIcon();
    ASSERT_FALSE(icon.isNull());
    const QImage face = icon.pixmap(16, 16).toImage();
    ASSERT_EQ(face.size(), QSize(16, 16));
    int greenPixels = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QColor colour = face.pixelColor(x, y);
            greenPixels += colour.green() > 200 && colour.red() < 100 ? 1 : 0;
        }
    }
    EXPECT_GE(greenPixels, 10);
}

TEST_F(MainWindowFrame, MenuBarHasFileAndQuestionMarkMenus) {
    QMenuBar* bar = tk::access::windowMenuBar(app::MainWindow);
    ASSERT_NE(bar, nullptr);
    const QList<QAction*> titles = bar->actions();
    ASSERT_EQ(titles.size(), 2);
    EXPECT_EQ(titles[0]->text(), QString("File"));
    EXPECT_EQ(titles[1]->text(), QString("?"));
    ASSERT_NE(titles[0]->menu(), nullptr);
    ASSERT_NE(titles[1]->menu(), nullptr);

    const QList<QAction*> file = titles[0]->menu()->actions();
    ASSERT_EQ(file.size(), 4);
    EXPECT_EQ(file[0]->text(), QString("COM-Port..."));
    EXPECT_EQ(file[1]->text(), QString("Measurements..."));
    EXPECT_TRUE(file[2]->isSeparator());
    EXPECT_EQ(file[3]->text(), QString("&Quit"));
    const QList<QAction*> help = titles[1]->menu()->actions();
    ASSERT_EQ(help.size(), 1);
    EXPECT_EQ(help[0]->text(), QString("About"));
}

} // namespace
} // namespace veltrace::apptest
