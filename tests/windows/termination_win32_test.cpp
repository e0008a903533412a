// Requests to end the program on Windows, each case in a process of its own (a request, once
// made, stays for the life of the process): the console's Ctrl-C, raised on the test's own
// console (Wine cannot raise Ctrl-Break), and the end of the session, sent to our window as the
// system sends it (from another thread, while ours waits). Also the start that Windows refuses.
#include "app/app.h"
#include "app/controls.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"
#include "toolkit/win32_access.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using namespace veltrace;
namespace tk = veltrace::toolkit;

// A console of the test's own, so its events reach nobody else: the one the test was started
// with (if any) is shared with whoever started it.
bool ownConsole() {
    FreeConsole();
    if (!AllocConsole()) {
        std::fprintf(stderr, "AllocConsole: error %lu\n", GetLastError());
        return false;
    }
    return true;
}

class Termination : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(tk::toolkitInit(), 1);
        ASSERT_EQ(tk::windowOpen(0, 10, 10, 200, 100, "Main", 0), 1);
    }
    void TearDown() override { tk::toolkitEnd(); }

    // What the system does at log-off: ask each top-level window from a thread of its own,
    // and wait for the answer.
    static LRESULT askToEndSession(HWND window) {
        DWORD_PTR answer = 0;
        std::atomic<bool> answered{false};
        std::thread asker([&] {
            SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL,
                                10000, &answer);
            answered = true;
        });
        // The asker waits until this thread takes the message in.
        while (!answered) {
            tk::eventWait(10);
        }
        asker.join();
        return static_cast<LRESULT>(answer);
    }
};

TEST_F(Termination, CtrlCIsReportedAndStaysOnceCaught) {
    // Before the program asks for them, the end of a session is left to the system's default.
    EXPECT_EQ(askToEndSession(tk::access::windowHwnd(0)), TRUE);
    EXPECT_FALSE(tk::terminationRequested());
    EXPECT_EQ(tk::eventWait(0), tk::EventNone);

    tk::catchTerminationRequests();
    ASSERT_TRUE(ownConsole());
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) << GetLastError();
    // The handler runs on a thread of the system's; the wait without limit must wake for it.
    EXPECT_EQ(tk::eventWait(-1), tk::EventTerminate);
    EXPECT_TRUE(tk::terminationRequested());
    EXPECT_EQ(tk::eventWait(0), tk::EventTerminate);
    EXPECT_EQ(tk::eventWait(50), tk::EventTerminate);
    // The process is still there to run its end sequence: nothing ended it.
    EXPECT_EQ(tk::windowExists(0), 1);
}

TEST_F(Termination, SessionEndClosesAnOpenMessageBoxAndIsReported) {
    tk::catchTerminationRequests();
    const HWND window = tk::access::windowHwnd(0);
    std::atomic<bool> boxReturned{false};
    DWORD_PTR answer = 0;
    std::thread system([&] {
        // Once the box is up, the session ends.
        while (FindWindowW(L"#32770", L"Port") == nullptr && !boxReturned) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000,
                            &answer);
    });
    // No hook: the real box, which only the request can end here.
    const int pressed =
        tk::messageBox("Port", "COM3 is not available", tk::MessageBoxOkExclamation);
    boxReturned = true;
    system.join();
    EXPECT_EQ(pressed, IDOK);
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    EXPECT_EQ(tk::eventWait(20), tk::EventTerminate);
    // A box asked for after the request does not wait for anybody.
    EXPECT_EQ(tk::messageBox("Port", "again", tk::MessageBoxOkExclamation), IDOK);
}

TEST(TerminationProgram, SessionEndEndsTheEventLoopLikeQuit) {
    tk::catchTerminationRequests();
    ASSERT_EQ(tk::toolkitInit(), 1);
    tk::setMessageBoxHook([](const std::string&, const std::string&, int) { return IDOK; });
    state::resetScopeState();
    ASSERT_EQ(app::buildMainWindow(), 1);
    const HWND window = tk::access::windowHwnd(app::MainWindow);
    // The session ends, without a question first (as a forced log-off does), while the
    // program is in its loop; the loop's own wait takes the message.
    std::thread system([window] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 10000,
                            &answer);
    });
    app::runEventLoop();
    system.join();
    EXPECT_EQ(state::scope.quitRequested, 1);
    EXPECT_EQ(state::scope.lastEvent, tk::EventTerminate);
    tk::toolkitEnd();
    tk::setMessageBoxHook(nullptr);
}

TEST(TerminationStart, ARefusedStartIsOneLineAndStatusOne) {
    // Our window class is taken before the toolkit can register it.
    const auto refusedStart = [] {
        WNDCLASSEXW taken{};
        taken.cbSize = sizeof taken;
        taken.lpfnWndProc = DefWindowProcW;
        taken.hInstance = GetModuleHandleW(nullptr);
        taken.lpszClassName = L"VeltraceWindow";
        RegisterClassExW(&taken);
        tk::setStartFailureHandler(
            [](const std::string& line) { std::fprintf(stderr, "handler: %s\n", line.c_str()); });
        tk::toolkitInit();
        std::fprintf(stderr, "toolkitInit returned\n");
        std::_Exit(0);
    };
    EXPECT_EXIT(refusedStart(), testing::ExitedWithCode(1),
                "handler: no window could be opened \\(the window classes could not be "
                "registered: error 1410\\)");
}

} // namespace
