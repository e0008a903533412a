// What the toggle and option buttons show, read from the widgets themselves (BM_GETCHECK on
// Win32, isChecked on Qt), against what the program holds: after every step of a session of
// clicks, single shots completed on the GUI thread and on another thread, and clicks whose
// command runs after another thread has already changed the same state.
#include "gui_window_fixture.h"

#include <mutex>
#include <sstream>
#include <string>
#include <thread>

namespace veltrace::apptest {
namespace {

using namespace veltrace::app;

// Every toggle and option button the main window has.
constexpr int ToggleButtons[] = {ButtonSingleShot, ButtonChannelMode, ButtonGrV,      ButtonGrH,
                                 ButtonCursorH,    ButtonCursorV,     ButtonCursorHV, ButtonHold};

class ButtonStateFixture : public MainWindowFixture {
  protected:
    // What the program holds for the button, from its own state.
    static int held(int control) {
        std::lock_guard guard(scopeLock());
        const state::CursorMode mode = scope.cursors[scope.currentChannel & 3].cursorMode;
        switch (control) {
        case ButtonHold:
            return scope.holdDisplay;
        case ButtonSingleShot:
            return scope.singleShotArmed;
        case ButtonChannelMode:
            return scope.fourChannelView;
        case ButtonGrH:
            return scope.linkHLines;
        case ButtonGrV:
            return scope.linkVLines;
        case ButtonCursorH:
            return mode == state::CursorMode::Horizontal ? 1 : 0;
        case ButtonCursorV:
            return mode == state::CursorMode::Vertical ? 1 : 0;
        case ButtonCursorHV:
            return mode == state::CursorMode::Both ? 1 : 0;
        default:
            break;
        }
        for (int c = 0; c < 4; ++c) {
            if (control == optionChannel(c)) {
                return scope.currentChannel == c ? 1 : 0;
            }
        }
        return -1;
    }

    // One line per button whose widget disagrees with the program or with the record; empty
    // when every button shows what the program holds.
    static std::string mismatches() {
        std::ostringstream out;
        auto check = [&out](int control) {
            const int shown = drive::checked(control);
            const int program = held(control);
            const int record = state(control);
            if (shown != program || shown != record) {
                out << "control " << control << " (" << tk::controlTextGet(control) << "): shows "
                    << shown << ", program " << program << ", record " << record << "\n";
            }
        };
        for (int control : ToggleButtons) {
            check(control);
        }
        for (int c = 0; c < 4; ++c) {
            check(optionChannel(c));
        }
        return out.str();
    }

    // The buttons after the program's loop has had its turn (which is where changes made on
    // another thread reach the widgets).
    static std::string afterTurn() {
        turn();
        return mismatches();
    }

    // What the acquisition thread does after a frame: the redraw, under the scope lock, on a
    // thread that is not the GUI thread. An armed single shot completes there.
    static void redrawOnAnotherThread() {
        std::thread worker([] {
            std::lock_guard guard(scopeLock());
            app::redrawCurrentView();
        });
        worker.join();
    }
};

// The sessions that complete a single shot on a thread of their own run under ThreadSanitizer.
using ButtonsShowTheProgramState = ButtonStateFixture;
using ButtonsShowTheProgramStateThreaded = ButtonStateFixture;

TEST_F(ButtonsShowTheProgramStateThreaded, HoldAndSingleShotArmedFiredAndDisarmed) {
    EXPECT_EQ(mismatches(), "") << "at start";

    click(ButtonHold);
    ASSERT_EQ(scope.holdDisplay, 1);
    EXPECT_EQ(afterTurn(), "") << "HOLD pressed";

    click(ButtonSingleShot); // arms and releases HOLD
    ASSERT_EQ(scope.singleShotArmed, 1);
    EXPECT_EQ(afterTurn(), "") << "single shot armed";

    click(ButtonCursorH); // a redraw on the GUI thread completes it
    ASSERT_EQ(scope.holdDisplay, 1);
    EXPECT_EQ(afterTurn(), "") << "single shot fired on the GUI thread";

    click(ButtonSingleShot);
    ASSERT_EQ(scope.singleShotArmed, 1);
    redrawOnAnotherThread();
    ASSERT_EQ(scope.singleShotArmed, 0);
    EXPECT_EQ(afterTurn(), "") << "single shot fired on the acquisition thread";

    click(ButtonSingleShot);
    click(ButtonSingleShot);
    ASSERT_EQ(scope.singleShotArmed, 0);
    EXPECT_EQ(afterTurn(), "") << "single shot armed and disarmed";
    EXPECT_EQ(drive::checked(ButtonSingleShot), 0);
    EXPECT_EQ(drive::checked(ButtonHold), 0);

    click(ButtonHold);
    click(ButtonHold);
    EXPECT_EQ(afterTurn(), "") << "HOLD pressed and released";
}

TEST_F(ButtonsShowTheProgramState, CursorModesLinksChannelsAndViews) {
    for (int control : {ButtonCursorH, ButtonCursorV, ButtonCursorHV, ButtonCursorHV}) {
        click(control);
        EXPECT_EQ(afterTurn(), "") << "after cursor mode button " << control;
    }
    for (int control : {ButtonGrH, ButtonGrV, ButtonGrH, ButtonGrV}) {
        click(control);
        EXPECT_EQ(afterTurn(), "") << "after link button " << control;
    }
    click(ButtonCursorV);
    click(ButtonChannelMode);
    ASSERT_EQ(scope.fourChannelView, 1);
    EXPECT_EQ(afterTurn(), "") << "four channels";
    // Channel 3 and 2 get their own modes; a click on the selected channel keeps it selected.
    for (int c : {2, 2, 1}) {
        click(optionChannel(c));
        ASSERT_EQ(scope.currentChannel, c);
        EXPECT_EQ(afterTurn(), "") << "channel option " << c;
        click(c == 2 ? ButtonCursorHV : ButtonCursorH);
        EXPECT_EQ(afterTurn(), "") << "mode of channel " << c;
    }
    click(optionChannel(2));
    EXPECT_EQ(afterTurn(), "") << "back to channel 2 with its own mode";
    click(ButtonChannelMode);
    ASSERT_EQ(scope.fourChannelView, 0);
    EXPECT_EQ(afterTurn(), "") << "one channel again";
}

// The acquisition thread changes HOLD and SINGLE SHOT between the user's click on one of them
// (the widget has already flipped) and the program's command for that click.
TEST_F(ButtonsShowTheProgramStateThreaded, AClickWhoseCommandRunsAfterTheOtherThreadChangedIt) {
    click(ButtonSingleShot);
    ASSERT_EQ(scope.singleShotArmed, 1);
    // Disarming, but the shot completes first: the command then arms again.
    drive::click(ButtonSingleShot);
    redrawOnAnotherThread();
    EXPECT_EQ(afterTurn(), "") << "SINGLE SHOT clicked while its shot completed";

    // The same with HOLD: the click presses it, the completed shot has pressed it already.
    if (scope.singleShotArmed == 0) {
        click(ButtonSingleShot);
    }
    ASSERT_EQ(scope.singleShotArmed, 1);
    ASSERT_EQ(scope.holdDisplay, 0);
    drive::click(ButtonHold);
    redrawOnAnotherThread();
    EXPECT_EQ(afterTurn(), "") << "HOLD clicked while the shot completed";
}

} // namespace
} // namespace veltrace::apptest
