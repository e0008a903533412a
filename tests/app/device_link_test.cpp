// From the settings file to the screen: connectDevice reads the port from a settings file,
// opens the pseudo-terminal that VELTRACE_COM<n> names, and the acquisition thread turns the
// frames that the simulator's frame builder writes there into the one-channel screen and the
// panel texts of the main window's controls.
#include "app/app.h"
#include "app/controls.h"
#include "display/view_geometry.h"
#include "link/acquisition.h"
#include "link/pty.h"
#include "link/serial_port.h"
#include "simframes/frames.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace veltrace::app {
namespace {

using link::acquisitionStats;

using testing_support::Pty;
using testing_support::waitUntil;

using Bytes = std::vector<std::uint8_t>;
using ScopeGuard = std::lock_guard<std::recursive_mutex>;

constexpr std::uint32_t TraceColour = 0x00FFFF; // red 255, green 255, blue 0

// A square wave between the values 8 and 40 with the scope set to DC 10V, timebase 6 (50 µs
// per sample) and +INT RUN +0.1.
struct SquareWaveFrame {
    sim::FrameSamplesArray samples{};
    Bytes bytes;

    SquareWaveFrame() {
        const sim::WaveShape shape{sim::Waveform::Square, 1000.0, 16, 24};
        std::uint32_t noise = 0;
        samples = sim::sampleWaveform(shape, sim::timePerSampleUs(6), 0.0, noise);
        const sim::FrameSettings settings{sim::switchesByte(sim::Coupling::Dc, sim::Range::V10), 6,
                                          sim::triggerByte(sim::Source::IntPlus, false),
                                          sim::levelByte(sim::Level::P01)};
        bytes = sim::buildFrame(settings, samples);
    }
};

class EndToEndDeviceLink : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(toolkit::toolkitInit(), 0);
        state::resetScopeState();
        for (int n = 1; n <= 16; ++n) {
            const std::string missing = "/nonexistent/veltrace-test/com" + std::to_string(n);
            setenv(("VELTRACE_COM" + std::to_string(n)).c_str(), missing.c_str(), 1);
        }
        toolkit::setMessageBoxHook(
            [this](const std::string& caption, const std::string& text, int) {
                messages.push_back(caption + ": " + text);
                return 1;
            });
        directory =
            std::filesystem::temp_directory_path() / ("veltrace-e2e-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        state::scope.settingsPath = (directory / "Veltrace.ini").string();
        toolkit::imageFree(app::BitmapScreen);

        // The main window's screen and channel-1 panel, as the program creates them.
        ASSERT_NE(toolkit::windowOpen(app::MainWindow, 100, 150, 800, 560, "Veltrace V1.11",
                                      toolkit::WindowFixedCaption),
                  0);
        toolkit::imageDisplayCreate(app::ImageScreen, 4, 4, 512, 516, 1);
        toolkit::valueTextCreate(app::panelText(0, app::PanelRow::Timebase), 530, 40, 260, 20);
        toolkit::valueTextCreate(app::panelText(0, app::PanelRow::Trigger), 530, 70, 260, 20);
        toolkit::valueTextCreate(app::panelText(0, app::PanelRow::Switches), 530, 100, 260, 20);
    }

    void TearDown() override {
        if (workerRunning()) {
            stopAcquisition();
        }
        // An ended thread is only collected when it is killed or the next one starts.
        toolkit::threadKill(deviceStatus().workerThread);
        closePort();
        toolkit::toolkitEnd(); // the application object goes too, in order, not at exit
        toolkit::setMessageBoxHook(nullptr);
        for (int n = 1; n <= 16; ++n) {
            unsetenv(("VELTRACE_COM" + std::to_string(n)).c_str());
        }
        std::filesystem::remove_all(directory);
    }

    void writeSettings(const std::string& text) {
        std::ofstream(state::scope.settingsPath, std::ios::binary) << text;
    }
    static bool workerRunning() {
        const int thread = deviceStatus().workerThread;
        return thread != 0 && toolkit::threadRunning(thread) != 0;
    }
    // Counts from `base`, taken before the frames were sent: they may be drawn at once.
    bool waitForFramesDrawn(std::uint64_t base, std::uint64_t count) {
        return waitUntil([&] {
            toolkit::eventWait(0); // let the window catch up with the control record
            return acquisitionStats().framesDrawn >= base + count;
        });
    }

    std::filesystem::path directory;
    std::vector<std::string> messages;
};

TEST_F(EndToEndDeviceLink, SquareWaveReachesTheScreenAndThePanel) {
    Pty pty;
    setenv("VELTRACE_COM1", pty.slavePath.c_str(), 1);
    writeSettings("[COM]\r\nCOMPort=COM1\r\n");
    connectDevice();
    ASSERT_TRUE(messages.empty()) << messages.front();
    ASSERT_TRUE(workerRunning());
    EXPECT_EQ(state::scope.comPortName, "COM1");
    EXPECT_TRUE(deviceStatus().open);

    const SquareWaveFrame frame;
    for (const std::uint8_t v : frame.samples) {
        ASSERT_TRUE(v == 8 || v == 40) << int{v}; // the wave the test means to send
    }
    const std::uint64_t base = acquisitionStats().framesDrawn;
    pty.send(frame.bytes);
    pty.send(frame.bytes);
    ASSERT_TRUE(waitForFramesDrawn(base, 2));

    EXPECT_EQ(toolkit::controlTextGet(app::panelText(0, app::PanelRow::Switches)),
              "DC 10V -> 1V/div");
    EXPECT_EQ(toolkit::controlTextGet(app::panelText(0, app::PanelRow::Timebase)),
              "50\xB5s -> 0.5ms/div");
    EXPECT_EQ(toolkit::controlTextGet(app::panelText(0, app::PanelRow::Trigger)), "+INT RUN +0.1");
    EXPECT_EQ(toolkit::controlInfo(app::ImageScreen).image, toolkit::imageHandle(0));

    const auto image = toolkit::imageGet(app::BitmapScreen);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, display::ScreenGeometry.width);
    ASSERT_EQ(image->height, display::ScreenGeometry.height);
    // Every sample's point lies at row 512 - 8 v: 448 for 8, 192 for 40 (sample 127 falls on
    // column 508, just past the right edge).
    for (int i = 0; i < 127; ++i) {
        const int v = frame.samples[static_cast<std::size_t>(i)];
        EXPECT_EQ(toolkit::imagePixel(app::BitmapScreen, 4 * i, 512 - 8 * v), TraceColour)
            << "sample " << i;
    }
    // And nothing of the trace lies outside the band between those two rows.
    int outside = 0;
    for (int y = 0; y < display::ScreenGeometry.height; ++y) {
        if (y >= 192 && y <= 448) {
            continue;
        }
        for (int x = 0; x < display::ScreenGeometry.width; ++x) {
            outside += toolkit::imagePixel(app::BitmapScreen, x, y) == TraceColour ? 1 : 0;
        }
    }
    EXPECT_EQ(outside, 0);
}

TEST_F(EndToEndDeviceLink, FourChannelViewDrawsTheStripOfTheSelectedChannel) {
    Pty pty;
    setenv("VELTRACE_COM1", pty.slavePath.c_str(), 1);
    writeSettings("[COM]\nCOMPort=COM1\n");
    state::scope.fourChannelView = 1;
    state::scope.currentChannel = 2;
    toolkit::imageFree(app::BitmapChannel1 + 2);
    connectDevice();
    ASSERT_TRUE(workerRunning());

    const SquareWaveFrame frame;
    const std::uint64_t base = acquisitionStats().framesDrawn;
    pty.send(frame.bytes);
    ASSERT_TRUE(waitForFramesDrawn(base, 1));
    EXPECT_TRUE(toolkit::imageGet(app::BitmapChannel1 + 2));
    EXPECT_FALSE(toolkit::imageGet(app::BitmapScreen)); // the one-channel screen was not drawn
    ScopeGuard guard(state::scopeLock());
    for (int i = 0; i < sim::FrameSamples; ++i) {
        EXPECT_EQ(state::scope.channel[2].samples[i], frame.samples[static_cast<std::size_t>(i)]);
        EXPECT_EQ(state::scope.channel[0].samples[i], 0);
    }
    EXPECT_EQ(state::scope.channel[2].voltsText, "DC 10V -> 1V/div");
}

TEST_F(EndToEndDeviceLink, PortChangeMovesTheLinkToTheNewDevice) {
    Pty first, second;
    setenv("VELTRACE_COM1", first.slavePath.c_str(), 1);
    setenv("VELTRACE_COM2", second.slavePath.c_str(), 1);
    writeSettings("[COM]\nCOMPort=COM1\n");
    connectDevice();
    ASSERT_TRUE(workerRunning());
    const int firstThread = deviceStatus().workerThread;
    const SquareWaveFrame frame;
    const std::uint64_t base = acquisitionStats().framesDrawn;
    first.send(frame.bytes);
    ASSERT_TRUE(waitForFramesDrawn(base, 1));

    // What the COM-Port command does after the dialog stored COM2.
    writeSettings("[COM]\nCOMPort=COM2\n");
    closePort();
    stopAcquisition();
    EXPECT_EQ(toolkit::threadRunning(firstThread), 0);
    EXPECT_EQ(state::scope.workerStopRequest, 0);
    connectDevice();
    ASSERT_TRUE(workerRunning());
    EXPECT_NE(deviceStatus().workerThread, firstThread);
    EXPECT_EQ(deviceStatus().portName, "COM2");

    // The first device is free again and no longer read; the second one is.
    link::PortConfig probe;
    probe.portName = "COM1";
    EXPECT_TRUE(link::openPort(probe));
    const std::uint64_t beforeSecond = acquisitionStats().framesDrawn;
    second.send(frame.bytes);
    ASSERT_TRUE(waitForFramesDrawn(beforeSecond, 1));
    EXPECT_TRUE(messages.empty());
}

TEST_F(EndToEndDeviceLink, NoConfiguredPortOpensNothingAndSaysNothing) {
    const int threadBefore = deviceStatus().workerThread;
    connectDevice(); // no settings file at all
    writeSettings("[COM]\nCOMPort=\n");
    connectDevice();
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(deviceStatus().workerThread, threadBefore);
    EXPECT_FALSE(workerRunning());
    EXPECT_EQ(state::scope.comPortName, "");
    EXPECT_EQ(deviceStatus().portName, "");
    EXPECT_FALSE(deviceStatus().open);
}

TEST_F(EndToEndDeviceLink, MissingDeviceIsReportedOnceAndStartsNoThread) {
    const int threadBefore = deviceStatus().workerThread;
    writeSettings("[COM]\nCOMPort=COM4\n");
    connectDevice();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "info: Com Port COM4 not available or busy. Use 'File'/'COM Port' on "
                           "the menu to setup your ports.");
    EXPECT_FALSE(deviceStatus().open);
    EXPECT_EQ(deviceStatus().workerThread, threadBefore);
    EXPECT_FALSE(workerRunning());
}

} // namespace
} // namespace veltrace::app

namespace veltrace::app {
namespace {

// A name edited by hand into the settings file can be 254 characters long; the message about it
// keeps a sensible width and still shows how the name begins and ends. The file is not touched.
TEST_F(EndToEndDeviceLink, AnOverlongPortNameIsShortenedInTheMessageOnly) {
    const std::string name = "COM" + std::string(241, 'x') + "0123456789";
    ASSERT_EQ(name.size(), 254u);
    const std::string settings = "[COM]\nCOMPort=" + name + "\n";
    writeSettings(settings);
    connectDevice();
    ASSERT_EQ(messages.size(), 1u);
    const std::string shown = shownPortName(name);
    EXPECT_EQ(shown.size(), 40u);
    EXPECT_EQ(shown.substr(0, 6), "COMxxx");
    EXPECT_EQ(shown.substr(shown.size() - 10), "0123456789");
    EXPECT_NE(messages[0].find(shown), std::string::npos) << messages[0];
    EXPECT_LT(messages[0].size(), 140u);
    std::ifstream in(state::scope.settingsPath, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), settings);
    EXPECT_EQ(shownPortName("COM3"), "COM3");
    EXPECT_EQ(shownPortName(std::string(40, 'y')), std::string(40, 'y'));
}

} // namespace
} // namespace veltrace::app
