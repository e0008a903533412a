// The acquisition thread and its cycle, fed with frames from the simulator's frame builder: what
// each handed-over frame holds, hold, the read limit, the stop handshake in both its forms, a
// lost device, and a forced stop. The cycle runs on an in-memory byte source, so what arrives in
// which cycle is exactly what the test says; two tests keep a real pseudo-terminal.
#include "link/acquisition.h"
#include "link/idle_wait.h"
#include "link/memory_source.h"
#include "link/pty.h"
#include "link/reconnecting_port.h"
#include "link/serial_port.h"
#include "simframes/frames.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace veltrace::link {
namespace {

using testing_support::Pty;
using testing_support::waitUntil;

using Bytes = std::vector<std::uint8_t>;
using ScopeGuard = std::lock_guard<std::recursive_mutex>;
using state::scope;

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

// Channel 0 as one handed-over frame left it, taken inside the callback.
struct Snapshot {
    state::ChannelData channel;
};

// Records every handed-over frame. The callback runs with the scope lock held, on whichever
// thread runs the cycle; the records are read under the same lock.
class Recorder {
  public:
    std::function<void()> callback() {
        return [this] { frames_.push_back(Snapshot{scope.channel[0]}); };
    }
    std::size_t count() const {
        ScopeGuard guard(state::scopeLock());
        return frames_.size();
    }
    Snapshot at(std::size_t i) const {
        ScopeGuard guard(state::scopeLock());
        return frames_.at(i);
    }

  private:
    std::vector<Snapshot> frames_;
};

void expectShows(const Snapshot& s, const FrameSpec& f) {
    for (int i = 0; i < sim::FrameSamples; ++i) {
        EXPECT_EQ(s.channel.samples[static_cast<std::size_t>(i)],
                  f.samples[static_cast<std::size_t>(i)])
            << "sample " << i;
    }
    EXPECT_EQ(s.channel.voltsText, f.voltsText);
    EXPECT_EQ(s.channel.timebaseText, f.timebaseText);
    EXPECT_EQ(s.channel.triggerText, f.triggerText);
}

// ---- One cycle at a time, on memory --------------------------------------------------------

class AcquisitionCycleTest : public ::testing::Test {
  protected:
    void SetUp() override { state::resetScopeState(); }
    void TearDown() override { state::resetScopeState(); }

    std::shared_ptr<MemorySource> source = std::make_shared<MemorySource>();
    Recorder recorder;
    AcquisitionCycle cycle{AcquisitionJob{source, recorder.callback()}};
};

TEST_F(AcquisitionCycleTest, TwoFramesInOneReadAreHandedOverInOrderEachBeforeTheNextIsStored) {
    const FrameSpec a = frameA(), b = frameB(), c = frameC();
    source->push(concat({a.bytes(), b.bytes(), slice(c.bytes(), 0, 12)}));
    ASSERT_TRUE(cycle.run());

    ASSERT_EQ(recorder.count(), 2u);
    // Had the whole batch been decoded first, both would show frame C's settings.
    expectShows(recorder.at(0), a);
    expectShows(recorder.at(1), b);

    // The rest of the batch went on after the second frame: C's settings and first samples.
    EXPECT_EQ(scope.channel[0].voltsText, c.voltsText);
    EXPECT_EQ(scope.channel[0].samples[0], c.samples[0]);
    EXPECT_EQ(scope.channel[0].samples[6], c.samples[6]);
    EXPECT_EQ(scope.channel[0].samples[7], b.samples[7]);
}

TEST_F(AcquisitionCycleTest, FrameSplitOverSeveralCyclesIsHandedOverOnceInTheLastOne) {
    const FrameSpec a = frameA();
    const Bytes frame = a.bytes();
    source->push(slice(frame, 0, 60));
    source->push(slice(frame, 60, 137));
    source->push(slice(frame, 137, 138));
    ASSERT_TRUE(cycle.run());
    ASSERT_TRUE(cycle.run());
    EXPECT_EQ(recorder.count(), 0u);
    ASSERT_TRUE(cycle.run());
    ASSERT_EQ(recorder.count(), 1u);
    expectShows(recorder.at(0), a);
    ASSERT_TRUE(cycle.run()); // nothing more arrives: nothing more is handed over
    EXPECT_EQ(recorder.count(), 1u);
}

TEST_F(AcquisitionCycleTest, FirstByteOfANewCycleStandsInTheSyncPosition) {
    const FrameSpec a = frameA();
    // The sync byte is replaced by a plain byte: only a fresh decoder takes it as the sync.
    Bytes frame = a.bytes();
    frame[0] = 0x00;
    source->push(frame);
    ASSERT_TRUE(cycle.run());
    ASSERT_EQ(recorder.count(), 1u);
    expectShows(recorder.at(0), a);
}

TEST_F(AcquisitionCycleTest, HeldBytesAreDroppedAndChangeNothing) {
    const FrameSpec a = frameA(), b = frameB(), c = frameC();
    source->push(a.bytes());
    ASSERT_TRUE(cycle.run());
    ASSERT_EQ(recorder.count(), 1u);

    scope.holdDisplay = 1;
    const AcquisitionStats before = acquisitionStats();
    for (int k = 0; k < 6; ++k) {
        source->push(b.bytes());
        ASSERT_TRUE(cycle.run());
    }
    EXPECT_EQ(recorder.count(), 1u);
    EXPECT_EQ(acquisitionStats().bytesDropped, before.bytesDropped + 6 * 138);
    EXPECT_EQ(acquisitionStats().bytesDecoded, before.bytesDecoded);
    EXPECT_EQ(scope.channel[0].samples[5], a.samples[5]);
    EXPECT_EQ(scope.channel[0].voltsText, a.voltsText);
    EXPECT_EQ(scope.channel[0].triggerText, a.triggerText);
    EXPECT_FLOAT_EQ(scope.channel[0].timePerSample, 50.0f);
    EXPECT_FLOAT_EQ(scope.channel[0].voltsPerStep, 0.15625f);

    // Released: the held frames were dropped, not delayed; only the new one is handed over.
    scope.holdDisplay = 0;
    source->push(c.bytes());
    ASSERT_TRUE(cycle.run());
    ASSERT_EQ(recorder.count(), 2u);
    expectShows(recorder.at(1), c);
}

TEST_F(AcquisitionCycleTest, ACycleTakesAtMost1024BytesAndTheRestWaitsForTheNext) {
    Bytes stream;
    for (int k = 0; k < 10; ++k) {
        stream = concat({stream, frameA().bytes()});
    }
    source->push(stream); // 1380 bytes waiting at once
    const std::uint64_t decoded = acquisitionStats().bytesDecoded;
    ASSERT_TRUE(cycle.run());
    EXPECT_EQ(acquisitionStats().bytesDecoded, decoded + 1024);
    EXPECT_EQ(recorder.count(), 7u); // 1024 = 7 frames and 58 bytes
    ASSERT_TRUE(cycle.run());
    EXPECT_EQ(acquisitionStats().bytesDecoded, decoded + 1380);
    EXPECT_EQ(recorder.count(), 10u);
}

TEST_F(AcquisitionCycleTest, BytesGoToTheChannelSelectedWhenEachIsDecoded) {
    const FrameSpec a = frameA(), b = frameB();
    // The frame callback switches the channel, as a click on CH3 between two frames would.
    AcquisitionCycle switching{AcquisitionJob{source, [] { scope.currentChannel = 2; }}};
    source->push(concat({a.bytes(), b.bytes()}));
    ASSERT_TRUE(switching.run());
    EXPECT_EQ(scope.channel[0].voltsText, a.voltsText);
    EXPECT_EQ(scope.channel[2].voltsText, b.voltsText);
    EXPECT_EQ(scope.channel[2].samples[100], b.samples[100]);
}

TEST_F(AcquisitionCycleTest, ALostDeviceIsNoDataAndNoCrash) {
    source->push(slice(frameA().bytes(), 0, 70));
    source->loseDevice();
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(cycle.run());
    }
    EXPECT_EQ(recorder.count(), 0u);
    EXPECT_EQ(scope.channel[0].samples[10], frameA().samples[10]);
}

TEST_F(AcquisitionCycleTest, TheWaitIsSizedToTheFewestBytesThatCanCompleteAFrame) {
    const Bytes frame = frameA().bytes();
    EXPECT_EQ(cycle.bytesToFrameEnd(), 138u); // a fresh decoder: a whole frame
    source->push(slice(frame, 0, 60));
    ASSERT_TRUE(cycle.run());
    EXPECT_EQ(cycle.bytesToFrameEnd(), 78u);
    source->push(slice(frame, 60, 137));
    ASSERT_TRUE(cycle.run());
    EXPECT_EQ(cycle.bytesToFrameEnd(), 1u); // only the last byte is missing
    source->push(concat({slice(frame, 137, 138), slice(frame, 0, 5)}));
    ASSERT_TRUE(cycle.run());
    EXPECT_EQ(cycle.bytesToFrameEnd(), 133u);
    // After a loss the decoder waits for a sync byte: at the soonest the next byte is one.
    source->loseDevice();
    ASSERT_TRUE(cycle.run());
    EXPECT_EQ(cycle.decoder().framePosition, WaitForSync);
    EXPECT_EQ(cycle.bytesToFrameEnd(), 138u);
}

// ---- The thread ------------------------------------------------------------------------------

// A worker on a source of the test's, every handed-over frame recorded.
class AcquisitionThreadedFixture : public ::testing::Test {
  protected:
    void SetUp() override { state::resetScopeState(); }

    void TearDown() override {
        if (worker != 0 && toolkit::threadRunning(worker)) {
            scope.workerStopRequest = 1;
            wakeIdleWaits();
            waitUntil([this] { return toolkit::threadRunning(worker) == 0; });
        }
        // An ended thread is only collected when it is killed or the next one starts.
        toolkit::threadKill(worker);
        scope.workerStopRequest = 0;
        scope.holdDisplay = 0;
    }

    void startWorker(std::shared_ptr<ByteSource> source) {
        worker = startAcquisition(AcquisitionJob{std::move(source), recorder.callback()});
        ASSERT_GT(worker, 0);
    }

    static bool waitForCycles(std::uint64_t more) {
        const std::uint64_t base = acquisitionStats().cycles;
        return waitUntil([&] { return acquisitionStats().cycles >= base + more; });
    }

    Recorder recorder;
    int worker = 0;
};

class AcquisitionThreadedStop : public AcquisitionThreadedFixture {};

TEST_F(AcquisitionThreadedStop, RequestEndsTheThreadWithinOneCycleWithTheSourceClosed) {
    auto source = std::make_shared<MemorySource>();
    startWorker(source);
    ASSERT_TRUE(waitForCycles(2));
    const std::uint64_t cyclesAtRequest = acquisitionStats().cycles;
    scope.workerStopRequest = 1;
    ASSERT_TRUE(waitUntil([this] { return toolkit::threadRunning(worker) == 0; }));
    // The request may land just after one cycle looked at the flag; the next one honours it.
    EXPECT_LE(acquisitionStats().cycles, cyclesAtRequest + 2);
    EXPECT_TRUE(source->closed());
    EXPECT_EQ(scope.workerStopRequest, 0);
}

TEST_F(AcquisitionThreadedStop, EveryCyclePausesSoALostDeviceCostsNoCpu) {
    auto source = std::make_shared<MemorySource>();
    source->loseDevice();
    startWorker(source);
    ASSERT_TRUE(waitForCycles(2));
    const std::size_t readsBefore = source->reads();
    toolkit::pause(200);
    // About 20 cycles of 10 ms; a thread that spun on the lost device would read thousands of
    // times. A slow machine only makes fewer.
    const std::size_t reads = source->reads() - readsBefore;
    EXPECT_LE(reads, 40u);
    EXPECT_GE(reads, 1u);
}

// ---- The waiting form of the stop ------------------------------------------------------------

class AcquisitionThreadedStopWait : public ::testing::Test {
  protected:
    void SetUp() override { state::resetScopeState(); }
    void TearDown() override { scope.workerStopRequest = 0; }
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
    while (scope.workerStopRequest == 0) {
        toolkit::pause(2);
    }
    scope.workerStopRequest = 0;
    while (!cooperativeRelease) {
        if (toolkit::threadStopRequested()) {
            cooperativeKilled = true;
        }
        toolkit::pause(2);
    }
    return 0;
}

TEST_F(AcquisitionThreadedStopWait, WithoutAThreadItWaitsOutAllPausesAndClearsTheFlag) {
    stopAcquisition(0);
    // Nobody else clears the flag: returning with 0 means the fiftieth pause was reached.
    EXPECT_EQ(scope.workerStopRequest, 0);
}

TEST_F(AcquisitionThreadedStopWait, ThreadThatNeverAnswersIsStoppedByForce) {
    stubbornSawStop = false;
    const int thread = toolkit::threadStart(stubbornWorker, nullptr);
    ASSERT_GT(thread, 0);
    stopAcquisition(thread);
    EXPECT_EQ(scope.workerStopRequest, 0);
    EXPECT_TRUE(waitUntil([] { return stubbornSawStop.load(); }));
}

TEST_F(AcquisitionThreadedStopWait, ThreadThatAnswersIsNotStoppedByForce) {
    cooperativeRelease = false;
    cooperativeKilled = false;
    const int thread = toolkit::threadStart(cooperativeWorker, nullptr);
    ASSERT_GT(thread, 0);
    stopAcquisition(thread);
    EXPECT_EQ(scope.workerStopRequest, 0);
    cooperativeRelease = true;
    ASSERT_TRUE(waitUntil([thread] { return toolkit::threadRunning(thread) == 0; }));
    EXPECT_FALSE(cooperativeKilled);
    toolkit::threadKill(thread);
}

// ---- The short stop at the end of the program --------------------------------------------------

class AcquisitionThreadedShortStop : public AcquisitionThreadedFixture {
  protected:
    // A worker whose batch is slow: its frame callback, under the scope lock, keeps it busy far
    // longer than a fixed pause at the end of the program would have waited (as a redraw does
    // on a machine that is busy with something else).
    void startSlowWorker(std::shared_ptr<MemorySource> source, int batchMs) {
        worker = startAcquisition(AcquisitionJob{std::move(source), [this, batchMs] {
                                                     inBatch = true;
                                                     toolkit::pause(batchMs);
                                                     ++batchesDone;
                                                 }});
        ASSERT_GT(worker, 0);
    }
    std::atomic<bool> inBatch{false};
    std::atomic<int> batchesDone{0};
};

TEST_F(AcquisitionThreadedShortStop, ReturnsOnlyOnceTheWorkerHasFinishedItsBatchAndEnded) {
    auto source = std::make_shared<MemorySource>();
    startSlowWorker(source, 400);
    source->push(frameA().bytes());
    ASSERT_TRUE(waitUntil([this] { return inBatch.load(); }));

    const int thread = worker;
    stopAcquisitionShort(thread);
    worker = 0;
    // Nothing of the worker is left running under the rest of the end sequence.
    EXPECT_EQ(batchesDone, 1);
    EXPECT_EQ(toolkit::threadRunning(thread), 0);
    EXPECT_TRUE(source->closed());
    EXPECT_EQ(scope.workerStopRequest, 0);
    EXPECT_TRUE(state::scopeLock().try_lock());
    state::scopeLock().unlock();
}

TEST_F(AcquisitionThreadedShortStop, AWorkerThatOutlastsTheLimitIsLeftAndTouchesNothingMore) {
    auto source = std::make_shared<MemorySource>();
    startSlowWorker(source, 600);
    for (int k = 0; k < 3; ++k) {
        source->push(frameA().bytes());
    }
    ASSERT_TRUE(waitUntil([this] { return inBatch.load(); }));

    const int thread = worker;
    stopAcquisitionShort(thread, 20); // returns although the worker is still in its batch
    worker = 0;
    EXPECT_EQ(batchesDone, 0);
    // Stopped by force: once its batch is over it returns without handing over the frames that
    // are still in its buffer, and never answers the request or closes its source.
    ASSERT_TRUE(waitUntil([this] { return batchesDone.load() == 1; }));
    toolkit::pause(50);
    EXPECT_EQ(batchesDone, 1);
    EXPECT_FALSE(source->closed());
    EXPECT_EQ(scope.workerStopRequest, 1);
}

// ---- Forced stop -----------------------------------------------------------------------------

class AcquisitionThreadedKill : public AcquisitionThreadedFixture {};

TEST_F(AcquisitionThreadedKill, KilledWorkerLeavesNoLockHeldAndNeverTouchesAnythingAgain) {
    auto source = std::make_shared<MemorySource>();
    startWorker(source);
    const FrameSpec a = frameA(), c = frameC();
    for (int k = 0; k < 7; ++k) {
        source->push(a.bytes());
    }
    ASSERT_TRUE(waitUntil([this] { return recorder.count() >= 1; }));

    toolkit::threadKill(worker);
    const int killed = worker;
    worker = 0;

    ASSERT_TRUE(waitUntil([] {
        if (!state::scopeLock().try_lock()) {
            return false;
        }
        state::scopeLock().unlock();
        return true;
    }));

    // A worker that ignored the kill would close its source and clear this flag within a cycle.
    scope.workerStopRequest = 1;
    const std::size_t reads = source->reads();
    toolkit::pause(100);
    EXPECT_EQ(scope.workerStopRequest, 1);
    EXPECT_FALSE(source->closed());
    EXPECT_LE(source->reads(), reads + 1); // at most the read it was in the middle of
    EXPECT_EQ(toolkit::threadRunning(killed), 0);

    // A new worker takes over the same source and hands frames over.
    scope.workerStopRequest = 0;
    const std::size_t before = recorder.count();
    startWorker(source);
    source->push(c.bytes());
    ASSERT_TRUE(waitUntil([&] {
        return recorder.count() > before &&
               recorder.at(recorder.count() - 1).channel.voltsText == c.voltsText;
    }));
}

// ---- On a real pseudo-terminal ---------------------------------------------------------------

class AcquisitionThreadedPty : public AcquisitionThreadedFixture {
  protected:
    void SetUp() override {
        AcquisitionThreadedFixture::SetUp();
        setenv("VELTRACE_COM1", pty.slavePath.c_str(), 1);
        PortConfig config;
        config.portName = "COM1";
        port = openPort(config);
        ASSERT_TRUE(port);
    }
    void TearDown() override {
        AcquisitionThreadedFixture::TearDown();
        unsetenv("VELTRACE_COM1");
    }

    Pty pty;
    std::shared_ptr<SerialPort> port;
};

TEST_F(AcquisitionThreadedPty, FramesWrittenToTheDeviceAreHandedOverInOrder) {
    startWorker(port);
    const FrameSpec a = frameA(), b = frameB();
    pty.send(a.bytes());
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 1; }));
    pty.send(slice(b.bytes(), 0, 50));
    pty.send(slice(b.bytes(), 50, 138));
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 2; }));
    expectShows(recorder.at(0), a);
    expectShows(recorder.at(1), b);
}

TEST_F(AcquisitionThreadedPty, ASilentPortIsWaitedOnNotReadEveryCycle) {
    startWorker(port);
    const std::uint64_t cyclesBefore = acquisitionStats().cycles;
    toolkit::pause(300);
    // A thread that read the silent port every 10 ms would have run some 30 cycles by now.
    EXPECT_LE(acquisitionStats().cycles - cyclesBefore, 1u);
    // The wait ends when bytes arrive, and reads and hands over as the cycle always did.
    const FrameSpec a = frameA();
    pty.send(a.bytes());
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 1; }));
    expectShows(recorder.at(0), a);
    // So does a stop request.
    link::stopAcquisition(worker);
    EXPECT_FALSE(toolkit::threadRunning(worker));
    EXPECT_FALSE(port->isOpen()); // closed by the thread itself, not given up on
}

TEST_F(AcquisitionThreadedPty, FarSideClosingMidStreamNeitherCrashesNorStopsTheCycle) {
    startWorker(port);
    const Bytes frame = frameA().bytes();
    const std::uint64_t base = acquisitionStats().bytesDecoded;
    pty.send(slice(frame, 0, 70));
    ASSERT_TRUE(waitUntil([&] { return acquisitionStats().bytesDecoded >= base + 70; }));
    pty.closeMaster();
    ASSERT_TRUE(waitForCycles(5)); // still cycling on a port that reads as end of file
    EXPECT_EQ(recorder.count(), 0u);
    scope.workerStopRequest = 1;
    ASSERT_TRUE(waitUntil([this] { return toolkit::threadRunning(worker) == 0; }));
    EXPECT_FALSE(port->isOpen());
    EXPECT_EQ(scope.workerStopRequest, 0);
}

// ---- Waiting for each frame's last byte -----------------------------------------------------

// Hands on what the port delivers and counts the reads that brought bytes, and all reads.
class CountingSource final : public ByteSource {
  public:
    explicit CountingSource(std::shared_ptr<ByteSource> inner) : inner_(std::move(inner)) {}
    ReadResult readAvailable(std::span<std::uint8_t> buffer) override {
        const ReadResult got = inner_->readAvailable(buffer);
        ++reads_;
        if (got.count > 0) {
            ++readsWithBytes_;
        }
        return got;
    }
    void close() override { inner_->close(); }
    bool waitForBytes(std::size_t wanted, int timeoutMs) override {
        return inner_->waitForBytes(wanted, timeoutMs);
    }
    std::size_t reads() const { return reads_; }
    std::size_t readsWithBytes() const { return readsWithBytes_; }

  private:
    std::shared_ptr<ByteSource> inner_;
    std::atomic<std::size_t> reads_{0};
    std::atomic<std::size_t> readsWithBytes_{0};
};

class AcquisitionThreadedWait : public AcquisitionThreadedPty {
  protected:
    void SetUp() override {
        AcquisitionThreadedPty::SetUp();
        counted = std::make_shared<CountingSource>(port);
    }

    // Starts the thread on the counted port and brings it to wait in the middle of frame A:
    // the first 70 bytes are decoded, 68 are missing.
    void startInTheMiddleOfAFrame() {
        startWorker(counted);
        const std::uint64_t base = acquisitionStats().bytesDecoded;
        pty.send(slice(frameA().bytes(), 0, 70));
        ASSERT_TRUE(waitUntil([&] { return acquisitionStats().bytesDecoded >= base + 70; }));
        // Past the sleep for the line's time of the missing bytes, into the wait on the port.
        toolkit::pause(100);
    }
    // Sends the bytes in pieces of `piece`, `gapMs` apart, as a line cut into pieces would.
    void sendInPieces(const Bytes& bytes, std::size_t piece, int gapMs) {
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            pty.send(slice(bytes, at, std::min(bytes.size(), at + piece)));
            toolkit::pause(gapMs);
        }
    }

    std::shared_ptr<CountingSource> counted;
    // What "at once" means below: far below the wait's own limit of a second, and far above
    // what the wake takes (well under a millisecond).
    static constexpr auto AtOnce = std::chrono::milliseconds(IdleWaitLimitMs / 2);
};

TEST_F(AcquisitionThreadedWait, AFrameArrivingInPiecesIsReadOnceWithItsLastByte) {
    startWorker(counted);
    const FrameSpec a = frameA(), b = frameB();
    pty.send(a.bytes());
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 1; }));
    // The thread now waits for the whole of the next frame. It comes in six pieces, about as
    // the line brings them; a thread reading on a cycle would read each of them.
    const std::size_t readsBefore = counted->readsWithBytes();
    sendInPieces(b.bytes(), 23, 10);
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 2; }));
    EXPECT_EQ(counted->readsWithBytes() - readsBefore, 1u);
    expectShows(recorder.at(0), a);
    expectShows(recorder.at(1), b);
}

// A stream of frames cut into pieces that do not respect the frames' borders, as an adapter
// or the simulator delivers it: the wait sleeps through pieces on its own prediction, and must
// still end each frame's wait only once its last byte is there, never in between.
TEST_F(AcquisitionThreadedWait, AStreamInPiecesIsReadOnceAFrameWithEveryFrameInOrder) {
    startWorker(counted);
    const std::vector<FrameSpec> kinds = {frameA(), frameB(), frameC()};
    constexpr std::size_t Frames = 24;
    Bytes stream;
    for (std::size_t i = 0; i < Frames; ++i) {
        const Bytes frame = kinds[i % kinds.size()].bytes();
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    const std::size_t readsBefore = counted->readsWithBytes();
    sendInPieces(stream, 22, 10);
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == Frames; }));
    toolkit::pause(50);
    ASSERT_EQ(recorder.count(), Frames);
    for (std::size_t i = 0; i < Frames; ++i) {
        SCOPED_TRACE(i);
        expectShows(recorder.at(i), kinds[i % kinds.size()]);
    }
    // About one read a frame (the stream's first frame may take two, and a stale wake one
    // more): a wait that ended before its frame was complete would read at every piece.
    EXPECT_LE(counted->readsWithBytes() - readsBefore, Frames + 3);
}

TEST_F(AcquisitionThreadedWait, BurstsAndSingleBytesGiveTheSameFramesAsWholeFrames) {
    startWorker(counted);
    const FrameSpec a = frameA(), b = frameB(), c = frameC();
    // Three and a half frames at once, then the rest of the fourth.
    pty.send(concat({a.bytes(), b.bytes(), c.bytes(), slice(a.bytes(), 0, 69)}));
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 3; }));
    pty.send(slice(a.bytes(), 69, 138));
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 4; }));
    // One byte at a time.
    const Bytes bytes = b.bytes();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        pty.send(slice(bytes, i, i + 1));
    }
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 5; }));
    toolkit::pause(50);
    ASSERT_EQ(recorder.count(), 5u); // nothing handed over twice, nothing half
    expectShows(recorder.at(0), a);
    expectShows(recorder.at(1), b);
    expectShows(recorder.at(2), c);
    expectShows(recorder.at(3), a);
    expectShows(recorder.at(4), b);
}

TEST_F(AcquisitionThreadedWait, ADeviceThatStopsHalfwayThroughAFrameCostsAboutAReadASecond) {
    startInTheMiddleOfAFrame();
    const std::size_t readsBefore = counted->reads();
    toolkit::pause(600);
    // The wait for the missing 68 bytes ends at its limit of a second at the earliest.
    EXPECT_LE(counted->reads() - readsBefore, 1u);
    EXPECT_EQ(recorder.count(), 0u); // the part frame is not handed over
    // When the rest comes, the frame is complete as it always was.
    pty.send(slice(frameA().bytes(), 70, 138));
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 1; }));
    expectShows(recorder.at(0), frameA());
}

TEST_F(AcquisitionThreadedWait, AStopRequestEndsAWaitForAFramesRestAtOnce) {
    startInTheMiddleOfAFrame();
    const auto requested = std::chrono::steady_clock::now();
    scope.workerStopRequest = 1;
    wakeIdleWaits(); // what stopAcquisition does
    ASSERT_TRUE(waitUntil([this] { return toolkit::threadRunning(worker) == 0; }));
    EXPECT_LT(std::chrono::steady_clock::now() - requested, AtOnce);
    EXPECT_FALSE(port->isOpen()); // closed by the thread as it ended
    EXPECT_EQ(scope.workerStopRequest, 0);
}

TEST_F(AcquisitionThreadedWait, ClosingThePortEndsAWaitForAFramesRestAtOnce) {
    startInTheMiddleOfAFrame();
    const std::uint64_t cycles = acquisitionStats().cycles;
    const auto closed = std::chrono::steady_clock::now();
    port->close(); // from another thread, as a port change does first
    ASSERT_TRUE(waitUntil([&] { return acquisitionStats().cycles > cycles; }));
    EXPECT_LT(std::chrono::steady_clock::now() - closed, AtOnce);
    EXPECT_EQ(recorder.count(), 0u);
}

TEST_F(AcquisitionThreadedWait, APortChangeEndsTheWaitAndTheNewPortIsRead) {
    // The application's own wrapping: the port inside one that opens it again when it returns.
    auto first = std::make_shared<ReconnectingPort>(port, [] { return nullptr; });
    startWorker(first);
    const std::uint64_t base = acquisitionStats().bytesDecoded;
    pty.send(slice(frameA().bytes(), 0, 70));
    ASSERT_TRUE(waitUntil([&] { return acquisitionStats().bytesDecoded >= base + 70; }));
    toolkit::pause(100);

    // The port change: close the port, stop the thread (which must answer, not be killed),
    // open the new port and start a new thread on it.
    const auto changed = std::chrono::steady_clock::now();
    first->close();
    link::stopAcquisition(worker);
    EXPECT_LT(std::chrono::steady_clock::now() - changed, AtOnce);
    EXPECT_FALSE(toolkit::threadRunning(worker));
    EXPECT_FALSE(port->isOpen());

    Pty other;
    setenv("VELTRACE_COM2", other.slavePath.c_str(), 1);
    PortConfig config;
    config.portName = "COM2";
    auto second = openPort(config);
    unsetenv("VELTRACE_COM2");
    ASSERT_TRUE(second);
    toolkit::threadKill(worker); // collects the ended thread
    startWorker(second);
    other.send(frameC().bytes());
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 1; }));
    expectShows(recorder.at(0), frameC());
}

TEST_F(AcquisitionThreadedWait, HoldDropsWhatArrivesWhileSetAlsoInTheMiddleOfAWait) {
    startInTheMiddleOfAFrame();
    const FrameSpec a = frameA(), c = frameC();
    const std::uint64_t dropped = acquisitionStats().bytesDropped;
    // HOLD as the application sets it: the flag, then a wake of the thread's wait. The thread
    // takes what is there and waits again before anything more is sent.
    const std::uint64_t cycles = acquisitionStats().cycles;
    scope.holdDisplay = 1;
    wakeIdleWaits();
    ASSERT_TRUE(waitUntil([&] { return acquisitionStats().cycles > cycles; }));
    toolkit::pause(20);
    // Fewer bytes than the frame still needs: they must still be taken, and dropped, while
    // HOLD is set, not left in the driver until the frame would be complete.
    const auto sent = std::chrono::steady_clock::now();
    pty.send(slice(a.bytes(), 70, 100));
    ASSERT_TRUE(waitUntil([&] { return acquisitionStats().bytesDropped >= dropped + 30; }));
    // Taken as they came, not when the wait for the frame's rest gave up: a release of HOLD
    // in between would have had them decoded.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, AtOnce);
    scope.holdDisplay = 0;
    wakeIdleWaits();
    // Had the held bytes been kept, they and these 38 would complete frame A; as it is, the
    // frame stays broken and the next sync byte starts frame C.
    pty.send(slice(a.bytes(), 100, 138));
    pty.send(c.bytes());
    ASSERT_TRUE(waitUntil([this] { return recorder.count() == 1; }));
    toolkit::pause(50);
    EXPECT_EQ(recorder.count(), 1u);
    expectShows(recorder.at(0), c);
    EXPECT_EQ(acquisitionStats().bytesDropped, dropped + 30);
}

} // namespace
} // namespace veltrace::link
