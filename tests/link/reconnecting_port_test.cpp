// A port that comes back: the lost device is closed, opened again about once a second until it
// is back or the port is closed, and what arrives after the loss waits for a sync byte. On a
// clock of the test's first; then on pseudo-terminals, with the acquisition thread's CPU time
// measured while the device is away.
#include "link/acquisition.h"
#include "link/memory_source.h"
#include "link/pty.h"
#include "link/reconnecting_port.h"
#include "link/serial_port.h"
#include "simframes/frames.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace veltrace::link {
namespace {

using testing_support::Pty;
using testing_support::waitUntil;
using Bytes = std::vector<std::uint8_t>;
using ScopeGuard = std::lock_guard<std::recursive_mutex>;
using state::scope;

Bytes frameWith(sim::Range range, int timebase, std::uint8_t base) {
    sim::FrameSamplesArray samples{};
    for (int i = 0; i < sim::FrameSamples; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((base + i) % 100);
    }
    return sim::buildFrame(
        {sim::switchesByte(sim::Coupling::Dc, range), static_cast<std::uint8_t>(timebase),
         sim::triggerByte(sim::Source::IntPlus, false), sim::levelByte(sim::Level::P01)},
        samples);
}

// Opens the sources of the test's list one per call, null where the list says so.
struct Opener {
    std::vector<std::shared_ptr<ByteSource>> results;
    std::size_t calls = 0;
    ReconnectingPort::Opener function() {
        return [this]() -> std::shared_ptr<ByteSource> {
            return calls < results.size() ? results[calls++] : (++calls, nullptr);
        };
    }
};

TEST(ReconnectingPort, ALostDeviceIsTriedAgainOnceASecondUntilItIsBack) {
    std::int64_t nowMs = 0;
    auto first = std::make_shared<MemorySource>();
    first->push(Bytes{1, 2, 3});
    first->loseDevice();
    auto second = std::make_shared<MemorySource>();
    second->push(Bytes{4, 5});
    Opener opener{{nullptr, nullptr, second}};
    ReconnectingPort port(first, opener.function(), [&nowMs] { return nowMs; });
    std::array<std::uint8_t, 16> buffer{};

    EXPECT_EQ(port.readAvailable(buffer).count, 3u);
    nowMs = 10;
    EXPECT_TRUE(port.readAvailable(buffer).deviceLost);
    EXPECT_TRUE(first->closed());
    EXPECT_FALSE(port.connected());
    // Reads in between cost nothing but the check of the clock.
    for (nowMs = 20; nowMs < 1010; nowMs += 10) {
        ASSERT_EQ(port.readAvailable(buffer).count, 0u);
    }
    EXPECT_EQ(opener.calls, 0u);
    nowMs = 1010; // a second after the loss: the first try, still missing
    port.readAvailable(buffer);
    EXPECT_EQ(opener.calls, 1u);
    nowMs = 2000;
    port.readAvailable(buffer);
    EXPECT_EQ(opener.calls, 1u);
    nowMs = 2010;
    port.readAvailable(buffer);
    EXPECT_EQ(opener.calls, 2u);
    nowMs = 3010; // back
    EXPECT_FALSE(port.readAvailable(buffer).deviceLost);
    EXPECT_TRUE(port.connected());
    const ReadResult got = port.readAvailable(buffer);
    EXPECT_EQ(got.count, 2u);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(port.reopenAttempts(), 3u);
    EXPECT_EQ(port.reconnections(), 1u);
}

TEST(ReconnectingPort, ClosingEndsTheAttemptsForGood) {
    std::int64_t nowMs = 0;
    auto first = std::make_shared<MemorySource>();
    first->loseDevice();
    auto second = std::make_shared<MemorySource>();
    Opener opener{{second}};
    ReconnectingPort port(first, opener.function(), [&nowMs] { return nowMs; });
    std::array<std::uint8_t, 16> buffer{};
    port.readAvailable(buffer);
    port.close();
    for (nowMs = 0; nowMs < 5000; nowMs += 10) {
        ASSERT_EQ(port.readAvailable(buffer).count, 0u);
    }
    EXPECT_EQ(opener.calls, 0u);
    EXPECT_FALSE(port.connected());

    // Closed while connected: the port it holds is closed with it.
    auto live = std::make_shared<MemorySource>();
    ReconnectingPort connected(live, opener.function(), [&nowMs] { return nowMs; });
    connected.close();
    EXPECT_TRUE(live->closed());
}

TEST(ReconnectingPort, WhatArrivesAfterTheLossWaitsForASyncByte) {
    state::resetScopeState();
    std::int64_t nowMs = 0;
    const Bytes a = frameWith(sim::Range::V10, 6, 0);
    const Bytes b = frameWith(sim::Range::V1, 3, 30);
    const Bytes c = frameWith(sim::Range::V100, 9, 60);
    auto first = std::make_shared<MemorySource>();
    first->push(Bytes(a.begin(), a.begin() + 100));
    first->loseDevice();
    // The device comes back in the middle of frame B: its last 60 bytes would complete frame A's
    // first 100 at position 137 if the decoder went on where it stood.
    auto second = std::make_shared<MemorySource>();
    second->push(Bytes(b.end() - 60, b.end()));
    second->push(c);
    Opener opener{{second}};
    auto port =
        std::make_shared<ReconnectingPort>(first, opener.function(), [&nowMs] { return nowMs; });
    std::vector<std::string> shown;
    AcquisitionCycle cycle(
        AcquisitionJob{port, [&] { shown.push_back(scope.channel[0].timebaseText); }});
    for (int i = 0; i < 300; ++i, nowMs += 10) {
        ASSERT_TRUE(cycle.run());
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], "1ms -> 10ms/div"); // frame C
    state::resetScopeState();
}

// ---- On pseudo-terminals, with the acquisition thread ---------------------------------------

// Passes reads on and notes, at each, the CPU time the reading thread has used so far.
class CpuProbe final : public ByteSource {
  public:
    explicit CpuProbe(std::shared_ptr<ByteSource> inner) : inner_(std::move(inner)) {}
    ReadResult readAvailable(std::span<std::uint8_t> buffer) override {
        timespec cpu{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu);
        {
            std::lock_guard lock(mutex_);
            cpuNs_ = static_cast<std::int64_t>(cpu.tv_sec) * 1000000000 + cpu.tv_nsec;
            ++reads_;
        }
        return inner_->readAvailable(buffer);
    }
    void close() override { inner_->close(); }
    std::int64_t cpuNs() const {
        std::lock_guard lock(mutex_);
        return cpuNs_;
    }

  private:
    std::shared_ptr<ByteSource> inner_;
    mutable std::mutex mutex_;
    std::int64_t cpuNs_ = 0;
    std::uint64_t reads_ = 0;
};

std::int64_t monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

class ReconnectThreaded : public ::testing::Test {
  protected:
    void SetUp() override {
        state::resetScopeState();
        char pattern[] = "/tmp/veltrace-reconnect-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        linkPath = dir / "scope";
        pointLinkAt(first.slavePath);
        setenv("VELTRACE_COM1", linkPath.c_str(), 1);
    }
    void TearDown() override {
        if (worker != 0) {
            scope.workerStopRequest = 1;
            waitUntil([this] { return toolkit::threadRunning(worker) == 0; });
            toolkit::threadKill(worker);
        }
        scope.workerStopRequest = 0;
        unsetenv("VELTRACE_COM1");
        std::error_code error;
        std::filesystem::remove_all(dir, error);
    }
    // As veltrace-sim --link does: a new link put in place by rename.
    void pointLinkAt(const std::string& target) {
        const std::filesystem::path temporary = dir / "scope.tmp";
        std::filesystem::remove(temporary);
        std::filesystem::create_symlink(target, temporary);
        std::filesystem::rename(temporary, linkPath);
    }
    std::size_t frames() const {
        ScopeGuard guard(state::scopeLock());
        return timebases.size();
    }
    std::string lastTimebase() const {
        ScopeGuard guard(state::scopeLock());
        return timebases.empty() ? "" : timebases.back();
    }

    std::filesystem::path dir;
    std::filesystem::path linkPath;
    Pty first;
    std::vector<std::string> timebases; // under the scope lock
    int worker = 0;
};

TEST_F(ReconnectThreaded, ALostDeviceIsReopenedWhenItComesBackWithoutSpinningMeanwhile) {
    PortConfig config;
    config.portName = "COM1";
    std::shared_ptr<SerialPort> opened = openPort(config);
    ASSERT_TRUE(opened);
    auto port = std::make_shared<ReconnectingPort>(
        opened, [config]() -> std::shared_ptr<ByteSource> { return openPort(config); });
    auto probe = std::make_shared<CpuProbe>(port);
    worker = startAcquisition(
        AcquisitionJob{probe, [this] { timebases.push_back(scope.channel[0].timebaseText); }});
    ASSERT_GT(worker, 0);

    first.send(frameWith(sim::Range::V10, 6, 0));
    ASSERT_TRUE(waitUntil([this] { return frames() == 1; }));

    // Unplugged: the far side goes, and with it the device node.
    first.closeMaster();
    std::filesystem::remove(linkPath);
    ASSERT_TRUE(waitUntil([&] { return !port->connected(); }));
    const std::int64_t cpuBefore = probe->cpuNs();
    const std::int64_t wallBefore = monotonicNs();
    toolkit::pause(2500);
    const std::int64_t cpuUsed = probe->cpuNs() - cpuBefore;
    const std::int64_t wallUsed = monotonicNs() - wallBefore;
    // A thread that spun while it waited would use about all of the wall time; cycling every
    // 10 ms costs a few per cent at most, even on a loaded machine.
    EXPECT_LT(static_cast<double>(cpuUsed) / static_cast<double>(wallUsed), 0.2)
        << cpuUsed << " ns of CPU in " << wallUsed << " ns";
    EXPECT_GE(port->reopenAttempts(), 1u);
    EXPECT_LE(port->reopenAttempts(), 4u); // about one a second
    EXPECT_EQ(frames(), 1u);

    // Plugged in again: a new device at the same link.
    Pty second;
    pointLinkAt(second.slavePath);
    ASSERT_TRUE(waitUntil([&] { return port->connected(); }));
    second.send(frameWith(sim::Range::V1, 9, 40));
    ASSERT_TRUE(waitUntil([this] { return frames() == 2; }));
    EXPECT_EQ(lastTimebase(), "1ms -> 10ms/div");
    EXPECT_EQ(port->reconnections(), 1u);

    // The stop request is answered as usual.
    scope.workerStopRequest = 1;
    ASSERT_TRUE(waitUntil([this] { return toolkit::threadRunning(worker) == 0; }));
    EXPECT_EQ(scope.workerStopRequest, 0);
    EXPECT_FALSE(port->connected());
    // The port was let go: it can be opened again at once.
    EXPECT_TRUE(openPort(config));
}

TEST_F(ReconnectThreaded, AStopRequestWhileTheDeviceIsAwayEndsTheThreadWithinACycle) {
    PortConfig config;
    config.portName = "COM1";
    std::shared_ptr<SerialPort> opened = openPort(config);
    ASSERT_TRUE(opened);
    std::atomic<int> attempts{0};
    auto port = std::make_shared<ReconnectingPort>(opened, [&]() -> std::shared_ptr<ByteSource> {
        ++attempts;
        return nullptr;
    });
    worker = startAcquisition(AcquisitionJob{port, nullptr});
    ASSERT_GT(worker, 0);
    first.closeMaster();
    ASSERT_TRUE(waitUntil([&] { return attempts >= 1; }));
    const std::uint64_t cyclesAtRequest = acquisitionStats().cycles;
    scope.workerStopRequest = 1;
    ASSERT_TRUE(waitUntil([this] { return toolkit::threadRunning(worker) == 0; }));
    // No wait of its own between the attempts: the request lands in the cycle after next at
    // the latest, as on a live port.
    EXPECT_LE(acquisitionStats().cycles, cyclesAtRequest + 2);
    const int after = attempts;
    toolkit::pause(1200);
    EXPECT_EQ(attempts, after);
}

} // namespace
} // namespace veltrace::link
