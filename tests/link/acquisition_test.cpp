// The acquisition thread against a pseudo-terminal fed with frames from the simulator's frame
// builder: what each redraw sees, hold, the stop handshake in both its forms, a far side that
// disappears, and a forced stop.
#include "app/scope_state.h"
#include "link/acquisition.h"
#include "link/pty.h"
#include "link/serial_port.h"
#include "simframes/frames.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace veltrace::link {
namespace {

using testing_support::Pty;
using testing_support::waitUntil;

using Bytes = std::vector<std::uint8_t>;
using ScopeGuard = std::lock_guard<std::recursive_mutex>;

struct FrameSpec {
    sim::FrameSettings settings;
    sim::FrameSamplesArray samples;
    std::string voltsText;
    std::string timebaseText;
    std::string triggerText;
    Bytes bytes() const { return sim::buildFrame(settings, samples); }
};

// Three frames that differ in every setting and in every sample.
FrameSpec frameA() {
    FrameSpec f;
    f.settings = {sim::switchesByte(sim::Coupling::Dc, sim::Range::V10), 6,
                  sim::triggerByte(sim::Source::IntPlus, false), sim::levelByte(sim::Level::P01)};
    for (int i = 0; i < sim::FrameSamples; ++i) {
        f.samples[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(1 + i % 60);
    }
    f.voltsText = "DC 10V -> 1V/div";
    f.timebaseText = "50\xB5s -> 0.5ms/div";
    f.triggerText = "+INT RUN +0.1";
    return f;
}

FrameSpec frameB() {
    FrameSpec f;
    f.settings = {sim::switchesByte(sim::Coupling::Ac, sim::Range::V1), 3,
                  sim::triggerByte(sim::Source::ExtMinus, true), sim::levelByte(sim::Level::M05)};
    for (int i = 0; i < sim::FrameSamples; ++i) {
        f.samples[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(62 - i % 55);
    }
    f.voltsText = "AC 1V -> 0.1V/div";
    f.timebaseText = "1\xB5s -> 10\xB5s/div";
    f.triggerText = "-EXT SINGLE -0.5";
    return f;
}

FrameSpec frameC() {
    FrameSpec f;
    f.settings = {sim::switchesByte(sim::Coupling::Gnd, sim::Range::V100), 9,
                  sim::triggerByte(sim::Source::Auto, false), 0};
    for (int i = 0; i < sim::FrameSamples; ++i) {
        f.samples[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(20 + (i * 7) % 30);
    }
    f.voltsText = "GND 100V -> 10V/div";
    f.timebaseText = "1ms -> 10ms/div";
    f.triggerText = "AUTO";
    return f;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

// What one redraw saw, taken on the acquisition thread right after it.
struct Snapshot {
    sim::FrameSamplesArray samples{};
    std::string voltsText;
    std::string timebaseText;
    std::string triggerText;
    std::shared_ptr<const toolkit::Image> screen;
};

// The trace pixel of sample i at value v on the one-channel screen (both ends of each segment
// are drawn, so every sample's own point is trace-coloured unless a later step paints over it).
bool traceAt(const toolkit::Image& image, int i, int v) {
    const int x = 4 * i;
    const int y = 512 - 8 * v;
    if (x >= image.width || y < 0 || y >= image.height) {
        return false;
    }
    const std::uint8_t* p = image.rgb.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
    return p[0] == 255 && p[1] == 255 && p[2] == 0;
}

int portHandleNow() {
    std::lock_guard<std::recursive_mutex> guard(portLock());
    return app::scope.portConfig.portHandle;
}

void isolatePorts() {
    for (int n = 1; n <= 16; ++n) {
        const std::string variable = "VELTRACE_COM" + std::to_string(n);
        const std::string missing = "/nonexistent/veltrace-test/com" + std::to_string(n);
        setenv(variable.c_str(), missing.c_str(), 1);
    }
}

// A worker on COM1 = a fresh pseudo-terminal, every redraw recorded.
class AcquisitionThreadedFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        app::resetScopeState();
        isolatePorts();
        setenv("VELTRACE_COM1", pty.slavePath.c_str(), 1);
        toolkit::setMessageBoxHook([](const std::string&, const std::string&, int) { return 1; });
        app::scope.portConfig.portName = "COM1";
        ASSERT_GT(openPort(app::scope.portConfig), 0);
        setFrameDrawnHook([this] {
            Snapshot s;
            for (int i = 0; i < sim::FrameSamples; ++i) {
                s.samples[static_cast<std::size_t>(i)] = app::scope.samples[i][0];
            }
            s.voltsText = app::scope.voltsText[0];
            s.timebaseText = app::scope.timebaseText[0];
            s.triggerText = app::scope.triggerText[0];
            s.screen = toolkit::imageGet(0);
            snapshots.push_back(std::move(s));
        });
    }

    void TearDown() override {
        if (worker != 0 && toolkit::threadRunning(worker)) {
            app::scope.workerStopRequest = 1;
            waitUntil([this] { return toolkit::threadRunning(worker) == 0; });
        }
        // An ended thread is only collected when it is killed or the next one starts.
        toolkit::threadKill(worker);
        setFrameDrawnHook(nullptr);
        closePort(app::scope.portConfig);
        app::scope.workerStopRequest = 0;
        app::scope.holdDisplay = 0;
        toolkit::setMessageBoxHook(nullptr);
        for (int n = 1; n <= 16; ++n) {
            unsetenv(("VELTRACE_COM" + std::to_string(n)).c_str());
        }
    }

    void startWorker() {
        worker = toolkit::threadStart(acquisitionThreadMain, &app::scope.portConfig);
        ASSERT_GT(worker, 0);
        ScopeGuard guard(app::scopeLock());
        app::scope.workerThread = worker;
    }

    std::size_t drawn() {
        ScopeGuard guard(app::scopeLock());
        return snapshots.size();
    }
    Snapshot snapshot(std::size_t i) {
        ScopeGuard guard(app::scopeLock());
        return snapshots.at(i);
    }
    bool waitForDecoded(std::uint64_t base, std::uint64_t count) {
        return waitUntil([&] { return acquisitionStats().bytesDecoded >= base + count; });
    }
    bool waitForCycles(std::uint64_t more) {
        const std::uint64_t base = acquisitionStats().cycles;
        return waitUntil([&] { return acquisitionStats().cycles >= base + more; });
    }
    bool waitForPending(int count) {
        return waitUntil([&] {
            int pending = 0;
            return ioctl(portHandleNow(), FIONREAD, &pending) == 0 && pending >= count;
        });
    }

    void expectSnapshotShows(const Snapshot& s, const FrameSpec& f) {
        EXPECT_EQ(s.samples, f.samples);
        EXPECT_EQ(s.voltsText, f.voltsText);
        EXPECT_EQ(s.timebaseText, f.timebaseText);
        EXPECT_EQ(s.triggerText, f.triggerText);
        ASSERT_TRUE(s.screen);
        for (int i = 0; i < 127; ++i) {
            const int v = f.samples[static_cast<std::size_t>(i)];
            if (v >= 1 && v <= 63) {
                EXPECT_TRUE(traceAt(*s.screen, i, v)) << "sample " << i << " value " << v;
            }
        }
    }

    Pty pty;
    int worker = 0;
    std::vector<Snapshot> snapshots; // under the scope lock
};

// ---- Redraws per frame -----------------------------------------------------------------------

class AcquisitionThreadedFrames : public AcquisitionThreadedFixture {};

TEST_F(AcquisitionThreadedFrames, TwoFramesInOneReadDrawTwiceEachBeforeTheNextFrameIsStored) {
    const FrameSpec a = frameA(), b = frameB(), c = frameC();
    const Bytes stream = concat({a.bytes(), b.bytes(), slice(c.bytes(), 0, 12)});
    pty.send(stream);
    ASSERT_TRUE(waitForPending(static_cast<int>(stream.size()))); // one read takes them all
    const std::uint64_t base = acquisitionStats().bytesDecoded;
    startWorker();
    ASSERT_TRUE(waitForDecoded(base, stream.size()));

    ASSERT_EQ(drawn(), 2u);
    // Had the whole batch been decoded first, both redraws would show frame C's settings.
    expectSnapshotShows(snapshot(0), a);
    expectSnapshotShows(snapshot(1), b);
    EXPECT_NE(snapshot(0).screen, snapshot(1).screen);

    // The rest of the batch went on after the second redraw: C's settings and first samples.
    ScopeGuard guard(app::scopeLock());
    EXPECT_EQ(app::scope.voltsText[0], c.voltsText);
    EXPECT_EQ(app::scope.samples[0][0], c.samples[0]);
    EXPECT_EQ(app::scope.samples[6][0], c.samples[6]);
    EXPECT_EQ(app::scope.samples[7][0], b.samples[7]);
}

TEST_F(AcquisitionThreadedFrames, FrameSplitOverSeveralCyclesIsDrawnOnce) {
    startWorker();
    const FrameSpec a = frameA();
    const Bytes frame = a.bytes();
    const std::uint64_t base = acquisitionStats().bytesDecoded;
    pty.send(slice(frame, 0, 60));
    ASSERT_TRUE(waitForDecoded(base, 60));
    pty.send(slice(frame, 60, 137));
    ASSERT_TRUE(waitForDecoded(base, 137));
    EXPECT_EQ(drawn(), 0u);
    pty.send(slice(frame, 137, 138));
    ASSERT_TRUE(waitForDecoded(base, 138));
    ASSERT_TRUE(waitForCycles(3));
    ASSERT_EQ(drawn(), 1u);
    expectSnapshotShows(snapshot(0), a);
}

TEST_F(AcquisitionThreadedFrames, FirstByteOfANewWorkerStandsInTheSyncPosition) {
    {
        ScopeGuard guard(app::scopeLock());
        app::scope.framePosition = 77; // left over from an earlier worker
    }
    startWorker();
    const FrameSpec a = frameA();
    const std::uint64_t base = acquisitionStats().bytesDecoded;
    // The sync byte is replaced by a plain byte: only a fresh decoder takes it as the sync.
    Bytes frame = a.bytes();
    frame[0] = 0x00;
    pty.send(frame);
    ASSERT_TRUE(waitForDecoded(base, 138));
    ASSERT_EQ(drawn(), 1u);
    expectSnapshotShows(snapshot(0), a);
}

// ---- Hold ------------------------------------------------------------------------------------

class AcquisitionThreadedHold : public AcquisitionThreadedFixture {};

TEST_F(AcquisitionThreadedHold, HeldBytesAreDroppedAndChangeNothing) {
    startWorker();
    const FrameSpec a = frameA(), b = frameB(), c = frameC();
    pty.send(a.bytes());
    ASSERT_TRUE(waitUntil([this] { return drawn() == 1; }));

    app::scope.holdDisplay = 1;
    const AcquisitionStats before = acquisitionStats();
    Bytes many;
    for (int k = 0; k < 6; ++k) {
        many = concat({many, b.bytes()});
    }
    pty.send(many);
    ASSERT_TRUE(waitUntil(
        [&] { return acquisitionStats().bytesDropped >= before.bytesDropped + many.size(); }));

    EXPECT_EQ(drawn(), 1u);
    EXPECT_EQ(acquisitionStats().bytesDecoded, before.bytesDecoded);
    {
        ScopeGuard guard(app::scopeLock());
        for (int i = 0; i < sim::FrameSamples; ++i) {
            EXPECT_EQ(app::scope.samples[i][0], a.samples[static_cast<std::size_t>(i)]) << i;
        }
        EXPECT_EQ(app::scope.voltsText[0], a.voltsText);
        EXPECT_EQ(app::scope.timebaseText[0], a.timebaseText);
        EXPECT_EQ(app::scope.triggerText[0], a.triggerText);
        EXPECT_FLOAT_EQ(app::scope.timePerSample[0], 50.0f);
        EXPECT_FLOAT_EQ(app::scope.voltsPerStep[0], 0.15625f);
    }

    // Released: the held frames were dropped, not delayed; only the new one is drawn.
    ASSERT_TRUE(waitForCycles(2));
    app::scope.holdDisplay = 0;
    pty.send(c.bytes());
    ASSERT_TRUE(waitUntil([this] { return drawn() >= 2; }));
    ASSERT_TRUE(waitForCycles(3));
    ASSERT_EQ(drawn(), 2u);
    expectSnapshotShows(snapshot(1), c);
}

// ---- Stop by request -------------------------------------------------------------------------

class AcquisitionThreadedStop : public AcquisitionThreadedFixture {};

TEST_F(AcquisitionThreadedStop, RequestEndsTheThreadWithinOneCycleWithThePortClosed) {
    startWorker();
    ASSERT_TRUE(waitForCycles(2));
    const std::uint64_t cyclesAtRequest = acquisitionStats().cycles;
    app::scope.workerStopRequest = 1;
    ASSERT_TRUE(waitUntil([this] { return toolkit::threadRunning(worker) == 0; }));
    // The request may land just after one cycle looked at the flag; the next one honours it.
    EXPECT_LE(acquisitionStats().cycles, cyclesAtRequest + 2);
    EXPECT_EQ(portHandleNow(), 0);
    EXPECT_EQ(app::scope.workerStopRequest, 0);
    // The port was really released: it opens again.
    app::PortConfig again;
    again.portName = "COM1";
    EXPECT_GT(openPort(again), 0);
    closePort(again);
}

TEST_F(AcquisitionThreadedStop, FarSideClosingMidStreamNeitherCrashesNorStopsTheCycle) {
    startWorker();
    const Bytes frame = frameA().bytes();
    const std::uint64_t base = acquisitionStats().bytesDecoded;
    pty.send(slice(frame, 0, 70));
    ASSERT_TRUE(waitForDecoded(base, 70));
    pty.closeMaster();
    ASSERT_TRUE(waitForCycles(5)); // still cycling on a port that reads as end of file / error
    EXPECT_EQ(drawn(), 0u);
    app::scope.workerStopRequest = 1;
    ASSERT_TRUE(waitUntil([this] { return toolkit::threadRunning(worker) == 0; }));
    EXPECT_EQ(portHandleNow(), 0);
    EXPECT_EQ(app::scope.workerStopRequest, 0);
}

TEST_F(AcquisitionThreadedStop, ClosedPortSkipsDecodingOfStaleBytes) {
    // The main thread closes the port before it stops the worker; bytes read earlier and left
    // in the buffer must not be decoded again.
    closePort(app::scope.portConfig);
    const Bytes frame = frameA().bytes();
    {
        std::lock_guard<std::recursive_mutex> guard(portLock());
        std::copy(frame.begin(), frame.end(), app::scope.portConfig.rxBuffer.begin());
        app::scope.portConfig.rxCount = static_cast<std::int32_t>(frame.size());
    }
    const std::uint64_t base = acquisitionStats().bytesDecoded;
    startWorker();
    ASSERT_TRUE(waitForCycles(4));
    EXPECT_EQ(acquisitionStats().bytesDecoded, base);
    EXPECT_EQ(drawn(), 0u);
}

// ---- The waiting form of the stop ------------------------------------------------------------

class AcquisitionThreadedStopWait : public ::testing::Test {
  protected:
    void SetUp() override { app::resetScopeState(); }
    void TearDown() override { app::scope.workerStopRequest = 0; }
};

std::atomic<bool> stubbornSawStop{false};
std::atomic<bool> cooperativeRelease{false};
std::atomic<bool> cooperativeKilled{false};

// Never answers the request; ends only when stopped by force.
int stubbornWorker(void*) {
    while (!toolkit::threadStopRequested()) {
        toolkit::pause(2);
    }
    stubbornSawStop = true;
    return 0;
}

// Answers the request at once, then stays alive until the test lets it go.
int cooperativeWorker(void*) {
    while (app::scope.workerStopRequest == 0) {
        toolkit::pause(2);
    }
    app::scope.workerStopRequest = 0;
    while (!cooperativeRelease) {
        if (toolkit::threadStopRequested()) {
            cooperativeKilled = true;
        }
        toolkit::pause(2);
    }
    return 0;
}

TEST_F(AcquisitionThreadedStopWait, WithoutAThreadItWaitsOutAllPausesAndClearsTheFlag) {
    app::scope.workerThread = 0;
    stopAcquisition();
    // Nobody else clears the flag: returning with 0 means the fiftieth pause was reached.
    EXPECT_EQ(app::scope.workerStopRequest, 0);
}

TEST_F(AcquisitionThreadedStopWait, ThreadThatNeverAnswersIsStoppedByForce) {
    stubbornSawStop = false;
    const int thread = toolkit::threadStart(stubbornWorker, nullptr);
    ASSERT_GT(thread, 0);
    app::scope.workerThread = thread;
    stopAcquisition();
    EXPECT_EQ(app::scope.workerStopRequest, 0);
    EXPECT_TRUE(waitUntil([] { return stubbornSawStop.load(); }));
}

TEST_F(AcquisitionThreadedStopWait, ThreadThatAnswersIsNotStoppedByForce) {
    cooperativeRelease = false;
    cooperativeKilled = false;
    const int thread = toolkit::threadStart(cooperativeWorker, nullptr);
    ASSERT_GT(thread, 0);
    app::scope.workerThread = thread;
    stopAcquisition();
    EXPECT_EQ(app::scope.workerStopRequest, 0);
    cooperativeRelease = true;
    ASSERT_TRUE(waitUntil([thread] { return toolkit::threadRunning(thread) == 0; }));
    EXPECT_FALSE(cooperativeKilled);
    toolkit::threadKill(thread);
}

// ---- Forced stop -----------------------------------------------------------------------------

class AcquisitionThreadedKill : public AcquisitionThreadedFixture {};

TEST_F(AcquisitionThreadedKill, KilledWorkerLeavesNoLockHeldAndNeverTouchesThePortAgain) {
    startWorker();
    const FrameSpec a = frameA(), c = frameC();
    Bytes burst;
    for (int k = 0; k < 7; ++k) {
        burst = concat({burst, a.bytes()});
    }
    pty.send(burst);
    ASSERT_TRUE(waitUntil([this] { return drawn() >= 1; }));

    const int handle = portHandleNow();
    toolkit::threadKill(worker);
    const int killed = worker;
    worker = 0;

    ASSERT_TRUE(waitUntil([] {
        if (!app::scopeLock().try_lock()) {
            return false;
        }
        app::scopeLock().unlock();
        return true;
    }));

    // A worker that ignored the kill would close the port and clear this flag within a cycle.
    app::scope.workerStopRequest = 1;
    std::uint64_t cycles = acquisitionStats().cycles;
    for (int quiet = 0; quiet < 5;) {
        toolkit::pause(20);
        const std::uint64_t now = acquisitionStats().cycles;
        quiet = now == cycles ? quiet + 1 : 0;
        cycles = now;
    }
    EXPECT_EQ(app::scope.workerStopRequest, 1);
    EXPECT_EQ(portHandleNow(), handle);
    EXPECT_EQ(toolkit::threadRunning(killed), 0);

    // A new worker takes over the same port and draws.
    app::scope.workerStopRequest = 0;
    const std::size_t drawnBefore = drawn();
    startWorker();
    pty.send(c.bytes());
    ASSERT_TRUE(waitUntil([&] {
        ScopeGuard guard(app::scopeLock());
        return !snapshots.empty() && snapshots.size() > drawnBefore &&
               snapshots.back().samples == c.samples;
    }));
    app::scope.workerStopRequest = 1;
    ASSERT_TRUE(waitUntil([this] { return toolkit::threadRunning(worker) == 0; }));
    EXPECT_EQ(portHandleNow(), 0);
    EXPECT_EQ(app::scope.workerStopRequest, 0);
}

} // namespace
} // namespace veltrace::link
