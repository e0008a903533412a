// The main window's commands, driven by real mouse clicks and menu choices through the
// program's own event loop.
#include "gui_window_fixture.h"
#include "state/settings.h"

#include "app/app.h"

#ifndef _WIN32
#include <QTimer>
#endif

#include <cstdlib>
#include <mutex>
#include <thread>

namespace veltrace::apptest {
namespace {

using namespace veltrace::app;

constexpr std::int64_t CursorColour = 0xFFFF33;

// ---- HOLD and SINGLE SHOT ----------------------------------------------------------------------

using HoldAndSingleShot = MainWindowFixture;

TEST_F(HoldAndSingleShot, ToggleButtonIsAlreadyFlippedWhenTheLoopSeesTheClick) {
    drive::click(ButtonHold);
    EXPECT_EQ(state(ButtonHold), 1);
    EXPECT_EQ(scope.holdDisplay, 0); // the program has not seen it yet
    EXPECT_EQ(turn(), tk::EventControl);
    EXPECT_EQ(tk::eventControl(), ButtonHold);
    EXPECT_EQ(scope.holdDisplay, 1);

    click(ButtonHold);
    EXPECT_EQ(state(ButtonHold), 0);
    EXPECT_EQ(scope.holdDisplay, 0);
}

TEST_F(HoldAndSingleShot, SingleShotWhileHeldReleasesHoldAndTheNextScreenHoldsAgain) {
    click(ButtonHold);
    ASSERT_EQ(scope.holdDisplay, 1);

    click(ButtonSingleShot);
    EXPECT_EQ(scope.singleShotArmed, 1);
    EXPECT_EQ(scope.holdDisplay, 0);
    EXPECT_EQ(state(ButtonHold), 0);
    EXPECT_EQ(state(ButtonSingleShot), 1);

    // A mode button redraws the screen, which completes the single shot.
    click(ButtonCursorH);
    EXPECT_EQ(scope.singleShotArmed, 0);
    EXPECT_EQ(scope.holdDisplay, 1);
    EXPECT_EQ(state(ButtonHold), 1);
    EXPECT_EQ(state(ButtonSingleShot), 0);

    // Pressing HOLD from the program sent no event: nothing toggles the flag back.
    EXPECT_EQ(turn(), 0);
    EXPECT_EQ(scope.holdDisplay, 1);
}

TEST_F(HoldAndSingleShot, SingleShotPressedTwiceBeforeAScreenDisarms) {
    click(ButtonSingleShot);
    click(ButtonSingleShot);
    EXPECT_EQ(scope.singleShotArmed, 0);
    click(ButtonCursorV); // a redraw now must not hold
    EXPECT_EQ(scope.holdDisplay, 0);
    EXPECT_EQ(state(ButtonHold), 0);
}

// ---- Cursor modes ------------------------------------------------------------------------------

using CursorModes = MainWindowFixture;

TEST_F(CursorModes, SameButtonTwiceSwitchesTheCursorsOffAndHidesBothRows) {
    click(ButtonCursorH);
    EXPECT_EQ(scope.cursors[0].cursorMode, state::CursorMode::Horizontal);
    EXPECT_EQ(state(ButtonCursorH), 1);
    EXPECT_TRUE(visible(panelLabel(0, PanelRow::Volts)));
    EXPECT_TRUE(visible(panelText(0, PanelRow::Volts)));
    EXPECT_FALSE(visible(panelLabel(0, PanelRow::Time)));
    EXPECT_FALSE(visible(panelText(0, PanelRow::Time)));
    // The screen was redrawn with the two horizontal cursor lines.
    EXPECT_EQ(tk::imagePixel(BitmapScreen, 30, 10), CursorColour);
    EXPECT_EQ(tk::imagePixel(BitmapScreen, 30, 502), CursorColour);

    click(ButtonCursorH);
    EXPECT_EQ(scope.cursors[0].cursorMode, state::CursorMode::None);
    EXPECT_EQ(state(ButtonCursorH), 0);
    for (int control : {panelLabel(0, PanelRow::Volts), panelText(0, PanelRow::Volts),
                        panelLabel(0, PanelRow::Time), panelText(0, PanelRow::Time)}) {
        EXPECT_FALSE(visible(control)) << control;
    }
    EXPECT_NE(tk::imagePixel(BitmapScreen, 30, 10), CursorColour);
}

TEST_F(CursorModes, AnotherButtonChangesTheModeAndReleasesTheOthers) {
    click(ButtonCursorH);
    click(ButtonCursorHV);
    EXPECT_EQ(scope.cursors[0].cursorMode, state::CursorMode::Both);
    EXPECT_EQ(state(ButtonCursorH), 0);
    EXPECT_EQ(state(ButtonCursorV), 0);
    EXPECT_EQ(state(ButtonCursorHV), 1);
    EXPECT_TRUE(visible(panelLabel(0, PanelRow::Volts)));
    EXPECT_TRUE(visible(panelLabel(0, PanelRow::Time)));

    click(ButtonCursorV);
    EXPECT_EQ(scope.cursors[0].cursorMode, state::CursorMode::Vertical);
    EXPECT_EQ(state(ButtonCursorHV), 0);
    EXPECT_EQ(state(ButtonCursorV), 1);
    EXPECT_FALSE(visible(panelLabel(0, PanelRow::Volts)));
    EXPECT_FALSE(visible(panelText(0, PanelRow::Volts)));
    EXPECT_TRUE(visible(panelLabel(0, PanelRow::Time)));
    EXPECT_TRUE(visible(panelText(0, PanelRow::Time)));
    EXPECT_EQ(tk::imagePixel(BitmapScreen, 502, 300), CursorColour);
}

// ---- Clicks on the pictures --------------------------------------------------------------------

using PictureClicks = MainWindowFixture;

TEST_F(PictureClicks, ClickOnTheScreenArrivesAsAPlainClickOfControl10) {
    EXPECT_EQ(clickAt(ImageScreen, 100, 22), tk::EventControl);
    EXPECT_EQ(tk::eventControl(), ImageScreen);
    EXPECT_EQ(tk::eventType(), 0);
    EXPECT_EQ(scope.draggingLine, 0); // no cursors: nothing to grab
}

TEST_F(PictureClicks, WithCursorsOnAClickOnALineGrabsItAndTheNextReleasesIt) {
    click(ButtonCursorH);
    clickAt(ImageScreen, 100, 22); // HLineO: row 10 + the picture's origin 12
    EXPECT_EQ(scope.draggingLine, 1);
    EXPECT_EQ(scope.draggedLine, state::CursorLine::HLineO);
    EXPECT_EQ(scope.holdDisplay, 1);

    // HOLD still toggles the flag; the release then takes the button's state.
    click(ButtonHold);
    EXPECT_EQ(scope.holdDisplay, 0);
    clickAt(ImageScreen, 100, 22);
    EXPECT_EQ(scope.draggingLine, 0);
    EXPECT_EQ(scope.holdDisplay, 1);
}

#ifndef _WIN32
// Qt only: the press that Qt reports as a double click, sent on its own after a plain click.
TEST_F(PictureClicks, DoubleClickDoesNotReleaseWhatItsFirstClickGrabbed) {
    click(ButtonCursorH);
    // A user's double click: press and release (a plain click, which grabs), then the second
    // press that the window system reports as a double click, and its release.
    clickAt(ImageScreen, 100, 22);
    ASSERT_EQ(scope.draggingLine, 1);
    QWidget* screen = widget(ImageScreen);
    const QPoint at = screen->mapFrom(content(), QPoint(100, 22));
    QTest::mouseDClick(screen, Qt::LeftButton, {}, at);
    QTest::mouseRelease(screen, Qt::LeftButton, {}, at);
    bool sawDoubleClick = false;
    for (int event = turn(); event != 0; event = turn()) {
        if (event == tk::EventControl && tk::eventControl() == ImageScreen &&
            tk::eventType() == 1) {
            sawDoubleClick = true;
        }
    }
    EXPECT_TRUE(sawDoubleClick);
    EXPECT_EQ(scope.draggingLine, 1);
}
#endif

TEST_F(PictureClicks, ModeButtonEndsAGrab) {
    click(ButtonCursorH);
    clickAt(ImageScreen, 100, 22);
    ASSERT_EQ(scope.draggingLine, 1);
    click(ButtonCursorV);
    EXPECT_EQ(scope.draggingLine, 0);
    EXPECT_EQ(scope.holdDisplay, 0); // back to the released HOLD button
    EXPECT_EQ(scope.cursors[0].cursorMode, state::CursorMode::Vertical);
}

// ---- The view switch ---------------------------------------------------------------------------

using ViewSwitch = MainWindowFixture;

TEST_F(ViewSwitch, ToFourChannelsAndBack) {
    const int left = tk::windowLeft(MainWindow);
    const int top = tk::windowTop(MainWindow);

    click(ButtonChannelMode);
    EXPECT_EQ(scope.fourChannelView, 1);
    EXPECT_EQ(scope.currentChannel, 0);
    EXPECT_EQ(tk::windowInnerWidth(MainWindow), 800);
    EXPECT_EQ(tk::windowInnerHeight(MainWindow), 575);
    EXPECT_EQ(tk::windowLeft(MainWindow), left);
    EXPECT_EQ(tk::windowTop(MainWindow), top);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(scope.cursors[c].posHLineO, 2) << c;
        EXPECT_EQ(scope.cursors[c].posHLineU, 125) << c;
        EXPECT_EQ(scope.cursors[c].posVLineL, 10) << c;
        EXPECT_EQ(scope.cursors[c].posVLineR, 502) << c;
        EXPECT_TRUE(visible(ImageChannel1 + c)) << c;
        // Every strip was drawn and handed to its display.
        EXPECT_NE(tk::imageHandle(BitmapChannel1 + c), 0) << c;
        EXPECT_EQ(tk::controlInfo(ImageChannel1 + c).image, tk::imageHandle(BitmapChannel1 + c));
    }
    EXPECT_FALSE(visible(ImageScreen));
    EXPECT_TRUE(visible(ButtonGrV));
    EXPECT_TRUE(visible(ButtonGrH));
    for (int c = 1; c < 4; ++c) {
        EXPECT_TRUE(visible(optionChannel(c))) << c;
        for (int k = 2; k < 5; ++k) {
            EXPECT_TRUE(visible(panelLabel(c, PanelRow::Volts) + k)) << c << " " << k;
            EXPECT_TRUE(visible(panelText(c, PanelRow::Volts) + k)) << c << " " << k;
        }
        // No cursors on these channels: their Volts and Time rows stay hidden.
        EXPECT_FALSE(visible(panelLabel(c, PanelRow::Volts))) << c;
        EXPECT_FALSE(visible(panelLabel(c, PanelRow::Time))) << c;
    }

    click(ButtonChannelMode);
    EXPECT_EQ(scope.fourChannelView, 0);
    EXPECT_EQ(tk::windowInnerHeight(MainWindow), 560);
    EXPECT_EQ(tk::windowLeft(MainWindow), left);
    EXPECT_EQ(tk::windowTop(MainWindow), top);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(scope.cursors[c].posHLineO, 8) << c; // 10 / 4 * 4
        EXPECT_EQ(scope.cursors[c].posHLineU, 500) << c;
        EXPECT_EQ(scope.cursors[c].posVLineR, 502) << c;
        EXPECT_FALSE(visible(ImageChannel1 + c)) << c;
    }
    EXPECT_TRUE(visible(ImageScreen));
    EXPECT_FALSE(visible(ButtonGrV));
    EXPECT_FALSE(visible(ButtonGrH));
    for (int c = 1; c < 4; ++c) {
        EXPECT_FALSE(visible(optionChannel(c))) << c;
        for (int k = 0; k < 5; ++k) {
            EXPECT_FALSE(visible(panelLabel(c, PanelRow::Volts) + k)) << c << " " << k;
            EXPECT_FALSE(visible(panelText(c, PanelRow::Volts) + k)) << c << " " << k;
        }
    }
    EXPECT_EQ(tk::controlInfo(ImageScreen).image, tk::imageHandle(BitmapScreen));
}

TEST_F(ViewSwitch, HoldFollowsTheHoldButtonAfterTheSwitch) {
    click(ButtonHold);
    scope.draggingLine = 1;
    click(ButtonChannelMode);
    EXPECT_EQ(scope.holdDisplay, 1);
    EXPECT_EQ(scope.draggingLine, 0);
    click(ButtonHold);
    click(ButtonChannelMode);
    EXPECT_EQ(scope.holdDisplay, 0);
}

TEST_F(ViewSwitch, ChannelWithCursorsShowsBothReadoutRowsInTheFourChannelView) {
    click(ButtonChannelMode);
    click(optionChannel(1));
    ASSERT_EQ(scope.currentChannel, 1);
    click(ButtonCursorH);
    ASSERT_EQ(scope.cursors[1].cursorMode, state::CursorMode::Horizontal);
    EXPECT_TRUE(visible(panelLabel(1, PanelRow::Volts)));
    EXPECT_FALSE(visible(panelLabel(1, PanelRow::Time))); // the per-mode rule while the view stands

    click(ButtonChannelMode);
    click(ButtonChannelMode);
    EXPECT_EQ(scope.currentChannel, 0);
    for (int control : {panelLabel(1, PanelRow::Volts), panelText(1, PanelRow::Volts),
                        panelLabel(1, PanelRow::Time), panelText(1, PanelRow::Time)}) {
        EXPECT_TRUE(visible(control)) << control;
    }
    // A mode command on that channel applies the per-mode rule again.
    click(optionChannel(1));
    click(ButtonCursorH);
    click(ButtonCursorH);
    EXPECT_EQ(scope.cursors[1].cursorMode, state::CursorMode::Horizontal);
    EXPECT_TRUE(visible(panelLabel(1, PanelRow::Volts)));
    EXPECT_FALSE(visible(panelLabel(1, PanelRow::Time)));
}

TEST_F(ViewSwitch, BackToOneChannelSelectsChannelOneAndItsModeButtons) {
    click(ButtonChannelMode);
    click(optionChannel(2));
    EXPECT_EQ(scope.currentChannel, 2);
    EXPECT_EQ(state(optionChannel(2)), 1);
    EXPECT_EQ(state(optionChannel(0)), 0);
    click(ButtonCursorV);
    ASSERT_EQ(scope.cursors[2].cursorMode, state::CursorMode::Vertical);

    click(ButtonChannelMode);
    EXPECT_EQ(scope.currentChannel, 0);
    EXPECT_EQ(state(optionChannel(0)), 1);
    EXPECT_EQ(state(optionChannel(2)), 0);
    EXPECT_EQ(state(ButtonCursorV), 0); // CH1 has no cursors

    click(ButtonChannelMode);
    EXPECT_EQ(scope.currentChannel, 0);
}

// ---- Channel options ---------------------------------------------------------------------------

using ChannelOptions = MainWindowFixture;

TEST_F(ChannelOptions, SelectingAChannelClearsTheOthersAndShowsItsModeOnTheButtons) {
    click(ButtonChannelMode);
    click(optionChannel(3));
    click(ButtonCursorHV);
    click(optionChannel(1));
    EXPECT_EQ(scope.currentChannel, 1);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(state(optionChannel(c)), c == 1 ? 1 : 0) << c;
    }
    EXPECT_EQ(state(ButtonCursorHV), 0);
    click(optionChannel(3));
    EXPECT_EQ(state(ButtonCursorHV), 1);
    EXPECT_EQ(state(ButtonCursorH), 0);
    EXPECT_EQ(state(ButtonCursorV), 0);
}

TEST_F(ChannelOptions, OnlyAnotherChannelEndsAGrab) {
    click(ButtonCursorH);
    clickAt(ImageScreen, 100, 22);
    ASSERT_EQ(scope.draggingLine, 1);
    click(optionChannel(0)); // already current
    EXPECT_EQ(scope.draggingLine, 1);
    EXPECT_EQ(state(optionChannel(0)), 1);
}

// ---- Menu and close boxes ----------------------------------------------------------------------

using QuitAndClose = MainWindowFixture;

TEST_F(QuitAndClose, QuitMenuItemEndsTheLoop) {
#ifndef _WIN32
    ASSERT_NE(menuAction("&Quit"), nullptr); // with its keyboard mnemonic
#endif
    drive::chooseMenuItem(MenuQuit);
    runEventLoop(); // returns once it has carried out the Quit
    EXPECT_EQ(scope.quitRequested, 1);
    EXPECT_EQ(tk::eventMenuItem(), MenuQuit);
}

TEST_F(QuitAndClose, CloseBoxOfTheMainWindowQuits) {
    drive::closeWindow(MainWindow);
    EXPECT_EQ(turn(), tk::EventClose);
    EXPECT_EQ(scope.quitRequested, 1);
}

TEST_F(QuitAndClose, CloseBoxOfTheAboutWindowClosesOnlyIt) {
    chooseMenu(app::MenuAbout);
    ASSERT_EQ(tk::windowExists(AboutWindow), 1);
    drive::closeWindow(AboutWindow);
    EXPECT_EQ(turn(), tk::EventClose);
    EXPECT_EQ(tk::windowExists(AboutWindow), 0);
    EXPECT_EQ(tk::windowExists(MainWindow), 1);
    EXPECT_EQ(scope.quitRequested, 0);
}

// ---- Port change -------------------------------------------------------------------------------

#ifndef _WIN32
// Qt only: the modal dialog is answered from a timer of Qt's event loop.
// The reconnect's message box waits for the user; the worker must be able to take the scope lock
// meanwhile, so the command must not hold it there.
class PortChangeThreaded : public MainWindowFixture {
  protected:
    void onMessage(const std::string&, const std::string&) override {
        std::thread other([this] {
            if (scopeLock().try_lock()) {
                lockFreeDuringMessage = true;
                scopeLock().unlock();
            }
        });
        other.join();
    }
    bool lockFreeDuringMessage = false;
};

TEST_F(PortChangeThreaded, FailedReconnectReportsWithoutHoldingTheLockAndRedraws) {
    setenv("VELTRACE_COM3", (scratch.path() / "no-such-device").c_str(), 1);
    {
        std::lock_guard<std::recursive_mutex> guard(scopeLock());
        scope.comPortNames[0] = "COM3";
        scope.comPortCount = 1;
        scope.comPortName = "COM2";
    }
    app::renderScreen();
    const tk::Handle before = tk::imageHandle(BitmapScreen);
    bool dialogSeen = false;
    // Armed once the menu item is chosen, so it fires inside the dialog's own wait.
    drive::chooseMenuItem(MenuComPort);
    QTimer::singleShot(0, [&] {
        dialogSeen = widget(ButtonOk) != nullptr;
        if (dialogSeen) {
            tk::controlStateSet(ComboPorts, 0);
            QTest::mouseClick(widget(ButtonOk), Qt::LeftButton);
        }
    });
    turn();
    unsetenv("VELTRACE_COM3");

    ASSERT_TRUE(dialogSeen);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "info");
    EXPECT_TRUE(lockFreeDuringMessage);
    EXPECT_NE(tk::imageHandle(BitmapScreen), before); // drawn anew after the reconnect
    std::lock_guard<std::recursive_mutex> guard(scopeLock());
    EXPECT_EQ(scope.comPortName, "COM3");
    EXPECT_EQ(state::readSetting("COM", "COMPort", scope.settingsPath), "COM3");
    EXPECT_FALSE(app::deviceStatus().open);
    EXPECT_EQ(app::deviceStatus().workerThread, 0);
}
#endif

} // namespace
} // namespace veltrace::apptest
