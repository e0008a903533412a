// The program coming up and going down: what start-up shows with and without a usable port, and
// what it says when there is no display at all.
#include "gui_window_fixture.h"

#include "app/app.h"
#include "tools/simframes/frames.h"

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <unistd.h>

namespace veltrace::apptest {
namespace {

using namespace veltrace::app;

constexpr std::int64_t GridDivision = 0x888888;
constexpr std::int64_t GridHalfDivision = 0x444444;
constexpr std::int64_t TraceChannel1 = 0x00FFFF;

void writeSettings(const std::string& content) {
    std::ofstream("Veltrace.ini") << content;
}

// Start-up builds the window itself; the fixture only prepares the toolkit and the directory.
class StartUpFixture : public MainWindowFixture {
  protected:
    void SetUp() override { ToolkitFixture::SetUp(); }
    void TearDown() override {
        if (started) {
            endSequence();
        }
        ToolkitFixture::TearDown();
    }
    void onMessage(const std::string&, const std::string&) override {
        windowOpenAtMessage = tk::windowExists(MainWindow) == 1;
        controlsExistedAtMessage = tk::controlInfo(ButtonCapture).kind != tk::ControlKind::None;
    }
    void start() {
        started = true;
        ASSERT_EQ(startUpSequence(), 1);
    }
    static std::int32_t workerThread() {
        std::lock_guard<std::recursive_mutex> guard(scopeLock());
        return app::deviceStatus().workerThread;
    }

    bool started = false;
    bool windowOpenAtMessage = false;
    bool controlsExistedAtMessage = true;
};

using StartUpSequence = StartUpFixture;

TEST_F(StartUpSequence, WithoutSettingsFileDrawsTheEmptyScreenQuietly) {
    start();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(scope.comPortName, "");
    EXPECT_EQ(workerThread(), 0);

    auto screen = tk::imageGet(BitmapScreen);
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->width, 508);
    EXPECT_EQ(screen->height, 512);
    EXPECT_EQ(tk::imagePixel(BitmapScreen, 80, 10), GridDivision);
    EXPECT_EQ(tk::imagePixel(BitmapScreen, 40, 10), GridHalfDivision);
    EXPECT_EQ(tk::imagePixel(BitmapScreen, 10, 48), GridDivision);
    EXPECT_EQ(tk::controlInfo(ImageScreen).image, tk::imageHandle(BitmapScreen));

    // The whole window is there, in the one-channel view, and the loop runs.
    EXPECT_EQ(tk::controlInfo(panelLabel(3, PanelRow::Switches)).kind, tk::ControlKind::Label);
    EXPECT_FALSE(visible(ImageChannel1));
    click(ButtonHold);
    EXPECT_EQ(scope.holdDisplay, 1);

    endSequence();
    started = false;
    EXPECT_EQ(tk::windowExists(MainWindow), 0);
}

struct UnusablePort {
    const char* settings;
    const char* portName;
    bool reported;
};

void PrintTo(const UnusablePort& port, std::ostream* out) {
    *out << '"' << port.settings << '"';
}

class StartUpWithUnusablePort : public StartUpFixture,
                                public ::testing::WithParamInterface<UnusablePort> {};

TEST_P(StartUpWithUnusablePort, ReportsItOnceBeforeTheControlsAndRunsOn) {
    // COM9 would be a USB adapter; point it at a device that does not exist.
    const std::string missing = (scratch.path() / "no-such-device").string();
    setenv("VELTRACE_COM9", missing.c_str(), 1);
    writeSettings(GetParam().settings);
    start();
    unsetenv("VELTRACE_COM9");

    EXPECT_EQ(scope.comPortName, GetParam().portName);
    EXPECT_FALSE(app::deviceStatus().open);
    EXPECT_EQ(workerThread(), 0);
    if (GetParam().reported) {
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].caption, "info");
        EXPECT_EQ(messages[0].text, "Com Port " + std::string(GetParam().portName) +
                                        " not available or busy. Use 'File'/'COM Port' on the "
                                        "menu to setup your ports.");
        EXPECT_EQ(messages[0].flags, tk::MessageBoxOkExclamation);
        EXPECT_TRUE(windowOpenAtMessage);
        EXPECT_FALSE(controlsExistedAtMessage);
    } else {
        EXPECT_TRUE(messages.empty());
    }

    click(ButtonCursorH);
    EXPECT_EQ(scope.cursors[0].cursorMode, state::CursorMode::Horizontal);
    EXPECT_EQ(messages.size(), GetParam().reported ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Ports, StartUpWithUnusablePort,
                         ::testing::Values(UnusablePort{"[COM]\nCOMPort=COM9\n", "COM9", true},
                                           UnusablePort{"[COM]\nCOMPort=COM99\n", "COM99", true},
                                           UnusablePort{"[COM]\nCOMPort=\n", "", false}));

// A port that works: a pseudo-terminal fed with frames, seen through the whole start-up.
using StartUpThreaded = StartUpFixture;

TEST_F(StartUpThreaded, LiveFramesReachTheScreenAndQuitEndsTheWorker) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    setenv("VELTRACE_COM5", ptsname(master), 1);
    writeSettings("[COM]\nCOMPort=COM5\n");
    start();
    unsetenv("VELTRACE_COM5");
    EXPECT_TRUE(messages.empty());
    EXPECT_GT(workerThread(), 0);

    sim::FrameSettings settings;
    settings.switches = sim::switchesByte(sim::Coupling::Dc, sim::Range::V10);
    settings.trigger = sim::triggerByte(sim::Source::IntPlus, false);
    sim::FrameSamplesArray samples;
    samples.fill(20); // row 512 - 8 * 20 = 352
    const std::vector<std::uint8_t> frame = sim::buildFrame(settings, samples);

    bool drawn = false;
    for (int attempt = 0; attempt < 400 && !drawn; ++attempt) {
        if (attempt % 20 == 0) {
            ASSERT_EQ(write(master, frame.data(), frame.size()),
                      static_cast<ssize_t>(frame.size()));
        }
        turn();
        drawn = tk::imagePixel(BitmapScreen, 2, 352) == TraceChannel1;
    }
    ASSERT_TRUE(drawn) << "no frame reached the screen";
    {
        std::lock_guard<std::recursive_mutex> guard(scopeLock());
        EXPECT_FALSE(scope.channel[0].voltsText.empty());
        EXPECT_EQ(tk::controlTextGet(panelText(0, PanelRow::Switches)), scope.channel[0].voltsText);
    }

    QAction* quit = menuAction("&Quit");
    ASSERT_NE(quit, nullptr);
    quit->trigger();
    runEventLoop();
    endSequence();
    started = false;
    // The worker saw the request: it closes its port and clears the flag as it ends.
    for (int wait = 0; wait < 500 && scope.workerStopRequest != 0; ++wait) {
        tk::pause(10);
    }
    EXPECT_EQ(scope.workerStopRequest, 0);
    close(master);
}

// Without any display the program says so and ends with a failure status instead of aborting
// inside Qt. It runs in a fresh process, where no Qt application exists yet.
TEST(StartUpWithoutDisplayDeathTest, SaysSoAndExitsWithAFailureStatus) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            unsetenv("QT_QPA_PLATFORM");
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            std::exit(startUp());
        },
        ::testing::ExitedWithCode(ExitNoWindowSystem), "no graphical display");
}

} // namespace
} // namespace veltrace::apptest
