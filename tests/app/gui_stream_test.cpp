// The window on the stream as data: a replay goes through the same acquisition thread, screen,
// SINGLE SHOT and HOLD as a port and leaves its last frame on the screen; a recording keeps every
// byte the port delivered; a recording or replay that cannot be had stops the start.
#include "gui_window_fixture.h"

#include "app/app.h"
#include "display/draw.h"
#include "link/acquisition.h"
#include "link/decoder.h"
#include "link/pty.h"
#include "record/recording.h"
#include "tools/simframes/frames.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <unistd.h>

namespace veltrace::apptest {
namespace {

using namespace veltrace::app;
using Bytes = std::vector<std::uint8_t>;

std::string data(const std::string& name) {
    return std::string(VELTRACE_TEST_DATA) + "/" + name;
}

// Every device byte of a recording.
Bytes streamOf(const std::string& path) {
    std::string error;
    auto reader = record::RecordingReader::open(path, error);
    EXPECT_TRUE(reader) << error;
    Bytes stream;
    record::Chunk chunk;
    while (reader && reader->next(chunk)) {
        stream.insert(stream.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    return stream;
}

class StreamFixture : public MainWindowFixture {
  protected:
    void SetUp() override { ToolkitFixture::SetUp(); }
    void TearDown() override {
        if (started) {
            endSequence();
        }
        setStreamOptions({});
        ToolkitFixture::TearDown();
    }
    void start(const StreamOptions& options) {
        setStreamOptions(options);
        ASSERT_TRUE(prepareStream());
        started = true;
        ASSERT_EQ(startUpSequence(), 1);
    }
    // Turns the loop until the condition holds; false when it never does.
    static bool turnUntil(const std::function<bool()>& condition) {
        for (int i = 0; i < 1500; ++i) {
            if (condition()) {
                return true;
            }
            turn();
        }
        return condition();
    }
    static std::uint64_t drawn() { return link::acquisitionStats().framesDrawn; }

    bool started = false;
};

using ReplayThreaded = StreamFixture;

TEST_F(ReplayThreaded, TheWindowShowsEveryFrameOfARecordingAndKeepsTheLast) {
    const std::uint64_t base = drawn();
    StreamOptions options;
    options.replayPath = data("clean.vtrec");
    options.replaySpeed = 0; // max
    start(options);
    ASSERT_TRUE(turnUntil([&] { return drawn() >= base + 24; }));
    tk::pause(100);
    turn();
    EXPECT_EQ(drawn(), base + 24);
    EXPECT_TRUE(deviceStatus().open);

    // The screen shows the last frame, as a fresh decoder leaves it.
    link::FrameDecoder decoder;
    state::ChannelData last;
    for (std::uint8_t b : streamOf(data("clean.vtrec"))) {
        link::decodeFrameByte(decoder, b, last);
    }
    std::lock_guard<std::recursive_mutex> guard(scopeLock());
    EXPECT_EQ(scope.channel[0].samples, last.samples);
    EXPECT_EQ(tk::controlTextGet(panelText(0, PanelRow::Switches)), last.voltsText);
    const auto expected =
        display::renderView(display::ScreenGeometry, 0, last, state::ChannelCursors{});
    const auto screen = tk::imageGet(BitmapScreen);
    ASSERT_TRUE(expected && screen);
    EXPECT_EQ(screen->rgb, expected->rgb);
}

TEST_F(ReplayThreaded, SingleShotAndHoldWorkOnAReplayAtItsPace) {
    StreamOptions options;
    options.replayPath = data("clean.vtrec");
    options.replaySpeed = 1;
    setStreamOptions(options);
    ASSERT_TRUE(prepareStream());
    started = true;
    ASSERT_EQ(startUpSequence(), 1);
    click(ButtonSingleShot);
    ASSERT_TRUE(turnUntil([&] { return scope.holdDisplay == 1; }));
    const std::uint64_t shot = drawn();
    EXPECT_EQ(tk::controlStateGet(ButtonHold), 1);
    const std::uint64_t dropped = link::acquisitionStats().bytesDropped;
    // Held: the replay goes on, its bytes are dropped, nothing more is drawn.
    ASSERT_TRUE(turnUntil([&] { return link::acquisitionStats().bytesDropped > dropped + 300; }));
    EXPECT_EQ(drawn(), shot);
    click(ButtonHold);
    EXPECT_EQ(scope.holdDisplay, 0);
    ASSERT_TRUE(turnUntil([&] { return drawn() > shot; }));
}

TEST_F(ReplayThreaded, ChoosingAPortEndsTheReplayAndGoesLive) {
    // No port in the settings: the replay stands in for it until the port dialog's choice.
    StreamOptions options;
    options.replayPath = data("dump.bin");
    options.replaySpeed = 0;
    const std::uint64_t base = drawn();
    start(options);
    ASSERT_TRUE(turnUntil([&] { return drawn() >= base + 10; }));
    closePort();
    stopAcquisition();
    connectDevice(); // as after the dialog: the setting names no port
    EXPECT_FALSE(deviceStatus().open);
    EXPECT_TRUE(messages.empty());
}

using RecordThreaded = StreamFixture;

TEST_F(RecordThreaded, EveryByteReadFromThePortIsRecorded) {
    testing_support::Pty pty;
    setenv("VELTRACE_COM5", pty.slavePath.c_str(), 1);
    std::ofstream("Veltrace.ini") << "[COM]\nCOMPort=COM5\n";
    StreamOptions options;
    options.recordPath = (scratch.path() / "session.vtrec").string();
    const std::uint64_t base = drawn();
    start(options);
    unsetenv("VELTRACE_COM5");
    ASSERT_TRUE(messages.empty());

    Bytes sent;
    std::uint32_t noise = 1;
    for (int f = 0; f < 3; ++f) {
        const Bytes frame = sim::buildFrame(
            {sim::switchesByte(sim::Coupling::Ac, sim::Range::V100), 5,
             sim::triggerByte(sim::Source::ExtPlus, false), sim::levelByte(sim::Level::P05)},
            sim::sampleWaveform({sim::Waveform::Noise, 0, 30, 60}, 10.0, 0.0, noise));
        sent.insert(sent.end(), frame.begin(), frame.end());
    }
    sent.insert(sent.end(), sent.begin(), sent.begin() + 50); // a frame cut short
    // Counted from before the send: the thread may take the bytes the moment they arrive.
    const std::uint64_t decoded = link::acquisitionStats().bytesDecoded;
    pty.send(sent);
    ASSERT_TRUE(turnUntil([&] {
        return drawn() >= base + 3 &&
               link::acquisitionStats().bytesDecoded >= decoded + sent.size();
    }));
    // Quit: the end sequence writes out the recording's last second.
    endSequence();
    started = false;
    EXPECT_EQ(streamOf(options.recordPath), sent);
}

using StreamOptionsRefused = StreamFixture;

TEST_F(StreamOptionsRefused, ARecordingOverAnExistingFileOrAMissingReplayStopsTheStart) {
    std::ofstream("taken.vtrec") << "kept";
    StreamOptions record;
    record.recordPath = "taken.vtrec";
    setStreamOptions(record);
    EXPECT_FALSE(prepareStream());
    std::ifstream in("taken.vtrec");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "kept");

    StreamOptions replay;
    replay.replayPath = "missing.vtrec";
    setStreamOptions(replay);
    EXPECT_FALSE(prepareStream());
}

} // namespace
} // namespace veltrace::apptest
