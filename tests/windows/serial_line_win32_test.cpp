// Our Windows serial port on a real line: COM5 is mapped (through Wine's registry) to a
// pseudo-terminal whose other end is pty-far-side on Linux, which this program asks for what it
// needs through its standard output ("@far REQUEST") and reads the answer on its standard input.
// Run as: pty-far-side LINK wine-run.sh tests_serial_line.exe, with VELTRACE_WINE_COM5=LINK.
//
// What Wine cannot show is left out: a pseudo-terminal has no modem lines (so DTR and RTS are not
// checked) and Wine lets a second program open a port that is in use (so "busy" is not either).
#include "link/acquisition.h"
#include "link/idle_wait.h"
#include "link/serial_port.h"
#include "simframes/frames.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace veltrace;

constexpr const char* PortName = "COM5";

std::string askFarSide(const std::string& request) {
    std::printf("@far %s\n", request.c_str());
    std::fflush(stdout);
    std::string reply;
    std::getline(std::cin, reply);
    while (!reply.empty() && (reply.back() == '\r' || reply.back() == '\n')) {
        reply.pop_back();
    }
    return reply;
}

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : bytes) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 15]);
    }
    return hex;
}

// "speed=19200 csize=7 ..." as numbers by name.
std::map<std::string, long> settingsSeenByFarSide() {
    std::map<std::string, long> values;
    std::istringstream words(askFarSide("settings"));
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            values[word.substr(0, equals)] = std::strtol(word.c_str() + equals + 1, nullptr, 10);
        }
    }
    return values;
}

std::shared_ptr<link::SerialPort> openLine() {
    link::PortConfig config;
    config.portName = PortName;
    return link::openPort(config);
}

// Reads until `count` bytes have come or two seconds have passed.
std::vector<std::uint8_t> readBytes(link::SerialPort& port, std::size_t count) {
    std::vector<std::uint8_t> received;
    std::uint8_t buffer[1024];
    const ULONGLONG start = GetTickCount64();
    while (received.size() < count && GetTickCount64() - start < 2000) {
        const link::ReadResult result = port.readAvailable(buffer);
        received.insert(received.end(), buffer, buffer + result.count);
        if (result.count == 0) {
            Sleep(10);
        }
    }
    return received;
}

// The cases share the one line and run in this order; the last one takes the far side away.
TEST(SerialLine, TheLineSettingsReachTheFarSide) {
    const auto port = openLine();
    ASSERT_NE(port, nullptr);
    const link::AppliedLineSettings applied = port->appliedLineSettings();
    EXPECT_TRUE(applied.applied);
    EXPECT_EQ(applied.baudRate, 19200u);
    EXPECT_EQ(applied.stopBits, 1);
    EXPECT_TRUE(applied.raw);
    EXPECT_TRUE(applied.immediateReads);
    const auto seen = settingsSeenByFarSide();
    ASSERT_EQ(seen.count("speed"), 1u) << askFarSide("settings");
    EXPECT_EQ(seen.at("speed"), 19200);
    // Seven data bits cannot be seen here: a pseudo-terminal keeps eight whatever it is told,
    // and Wine reads the line state back from it.
    EXPECT_EQ(seen.at("parenb"), 0);
    EXPECT_EQ(seen.at("cstopb"), 0);
    EXPECT_EQ(seen.at("crtscts"), 0);
    EXPECT_EQ(seen.at("ixon"), 0);
    EXPECT_EQ(seen.at("ixoff"), 0);
    // Raw: no line editing, echo, signal characters or translation.
    EXPECT_EQ(seen.at("icanon"), 0);
    EXPECT_EQ(seen.at("echo"), 0);
    EXPECT_EQ(seen.at("isig"), 0);
    EXPECT_EQ(seen.at("icrnl"), 0);
}

TEST(SerialLine, EveryByteValueArrivesAsSent) {
    const auto port = openLine();
    ASSERT_NE(port, nullptr);
    std::vector<std::uint8_t> all(256);
    for (int value = 0; value < 256; ++value) {
        all[static_cast<std::size_t>(value)] = static_cast<std::uint8_t>(value);
    }
    // Twice, so the line is still clean after every control character went through once.
    std::vector<std::uint8_t> twice = all;
    twice.insert(twice.end(), all.begin(), all.end());
    ASSERT_EQ(askFarSide("send " + hexOf(twice)), "sent 512");
    EXPECT_EQ(readBytes(*port, twice.size()), twice);
    EXPECT_EQ(port->pendingBytes(), 0);
}

// ---- The acquisition thread's wait for each frame's last byte --------------------------------

// Hands on what the port delivers and counts the reads that brought bytes.
class CountingSource final : public link::ByteSource {
  public:
    explicit CountingSource(std::shared_ptr<link::ByteSource> inner) : inner_(std::move(inner)) {}
    link::ReadResult readAvailable(std::span<std::uint8_t> buffer) override {
        const link::ReadResult got = inner_->readAvailable(buffer);
        if (got.count > 0) {
            ++readsWithBytes_;
        }
        return got;
    }
    void clearErrors() override { inner_->clearErrors(); }
    void close() override { inner_->close(); }
    bool waitForBytes(std::size_t wanted, int timeoutMs) override {
        return inner_->waitForBytes(wanted, timeoutMs);
    }
    std::size_t readsWithBytes() const { return readsWithBytes_; }

  private:
    std::shared_ptr<link::ByteSource> inner_;
    std::atomic<std::size_t> readsWithBytes_{0};
};

std::vector<std::uint8_t> testFrame(int offset) {
    sim::FrameSamplesArray samples{};
    for (int i = 0; i < sim::FrameSamples; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(10 + (i + offset) % 90);
    }
    const sim::FrameSettings settings{sim::switchesByte(sim::Coupling::Ac, sim::Range::V10), 5,
                                      sim::triggerByte(sim::Source::IntPlus, false),
                                      sim::levelByte(sim::Level::P01)};
    return sim::buildFrame(settings, samples);
}

std::vector<std::uint8_t> part(const std::vector<std::uint8_t>& bytes, std::size_t from,
                               std::size_t to) {
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<long>(from),
                                     bytes.begin() + static_cast<long>(to));
}

bool waitFor(const std::function<bool()>& condition) {
    const ULONGLONG start = GetTickCount64();
    while (!condition()) {
        if (GetTickCount64() - start > 5000) {
            return false;
        }
        Sleep(2);
    }
    return true;
}

// Far below the wait's own limit of a second, far above what a wake takes.
constexpr ULONGLONG AtOnceMs = link::IdleWaitLimitMs / 2;

TEST(SerialLine, ThreadedFrameInPiecesIsReadOnceWithItsLastByteAndAStopEndsTheWait) {
    state::resetScopeState();
    const auto port = openLine();
    ASSERT_NE(port, nullptr);
    const auto counted = std::make_shared<CountingSource>(port);
    // A wake left over from the ports the tests before closed would end one wait early.
    WaitForSingleObject(static_cast<HANDLE>(link::idleWakeEvent()), 0);
    std::atomic<int> frames{0};
    const int thread =
        link::startAcquisition(link::AcquisitionJob{counted, [&frames] { ++frames; }});
    ASSERT_NE(thread, 0);

    const auto first = testFrame(0);
    ASSERT_EQ(askFarSide("send " + hexOf(first)), "sent 138");
    ASSERT_TRUE(waitFor([&] { return frames == 1; }));
    // The thread now waits for the whole next frame, which comes in six pieces about as the
    // line brings them: one read takes it, with its last byte.
    const std::size_t readsBefore = counted->readsWithBytes();
    const auto second = testFrame(7);
    for (std::size_t at = 0; at < second.size(); at += 23) {
        const auto piece = part(second, at, std::min<std::size_t>(second.size(), at + 23));
        ASSERT_EQ(askFarSide("send " + hexOf(piece)), "sent " + std::to_string(piece.size()));
        Sleep(10);
    }
    ASSERT_TRUE(waitFor([&] { return frames == 2; }));
    EXPECT_EQ(counted->readsWithBytes() - readsBefore, 1u);
    {
        std::lock_guard lock(state::scopeLock());
        EXPECT_EQ(state::scope.channel[0].samples[30], second[5 + 30]);
    }

    // Halfway through a frame the thread waits for the rest; a stop request ends that at once.
    const auto third = testFrame(3);
    ASSERT_EQ(askFarSide("send " + hexOf(part(third, 0, 70))), "sent 70");
    Sleep(150);
    const ULONGLONG requested = GetTickCount64();
    state::scope.workerStopRequest = 1;
    link::wakeIdleWaits();
    ASSERT_TRUE(waitFor([&] { return toolkit::threadRunning(thread) == 0; }));
    EXPECT_LT(GetTickCount64() - requested, AtOnceMs);
    EXPECT_FALSE(port->isOpen()); // closed by the thread as it ended
    EXPECT_EQ(frames.load(), 2);
    toolkit::threadKill(thread); // collects the ended thread
}

TEST(SerialLine, ThreadedCloseOfThePortEndsAWaitForAFramesRestAtOnce) {
    state::resetScopeState();
    const auto port = openLine();
    ASSERT_NE(port, nullptr);
    std::atomic<int> frames{0};
    const int thread = link::startAcquisition(link::AcquisitionJob{port, [&frames] { ++frames; }});
    ASSERT_NE(thread, 0);
    const std::uint64_t decoded = link::acquisitionStats().bytesDecoded;
    ASSERT_EQ(askFarSide("send " + hexOf(part(testFrame(1), 0, 70))), "sent 70");
    ASSERT_TRUE(waitFor([&] { return link::acquisitionStats().bytesDecoded >= decoded + 70; }));
    Sleep(150);
    const std::uint64_t cycles = link::acquisitionStats().cycles;
    const ULONGLONG closed = GetTickCount64();
    port->close(); // from another thread, as a port change does first
    ASSERT_TRUE(waitFor([&] { return link::acquisitionStats().cycles > cycles; }));
    EXPECT_LT(GetTickCount64() - closed, AtOnceMs);
    EXPECT_EQ(frames.load(), 0);
    link::stopAcquisition(thread);
    EXPECT_EQ(toolkit::threadRunning(thread), 0);
    toolkit::threadKill(thread);
}

TEST(SerialLine, EveryReturnFromAWaitsSystemCallIsCountedAndNoOtherLook) {
    const auto port = openLine();
    ASSERT_NE(port, nullptr);
    std::uint8_t buffer[1024];
    port->readAvailable(buffer); // whatever the cases before left on the line
    WaitForSingleObject(static_cast<HANDLE>(link::idleWakeEvent()), 0);
    // A silent line: the wait returns from the system (at its limit, or at once where Wine ends
    // a wait for EV_RXCHAR on an empty queue as aborted), and that return is counted.
    std::uint64_t before = link::waitReturns();
    port->waitForBytes(1, 50);
    EXPECT_GE(link::waitReturns(), before + 1);
    // The bytes asked for are there already: no system wait, nothing counted.
    ASSERT_EQ(askFarSide("send 010203"), "sent 3");
    ASSERT_TRUE(waitFor([&] { return port->pendingBytes() >= 3; }));
    before = link::waitReturns();
    EXPECT_TRUE(port->waitForBytes(3, 1000));
    EXPECT_EQ(link::waitReturns(), before);
    EXPECT_EQ(readBytes(*port, 3).size(), 3u);
}

// Wine ends a wait for EV_RXCHAR on this line as aborted within milliseconds (a pseudo-terminal
// answers no modem status). The wait must not give up on that: a reader whose waits fail falls
// back to its plain cycle and spins at a hundred looks a second on a silent port.
TEST(SerialLine, ASilentLineIsWaitedOnUntilTheLimitAndBytesStillEndTheWait) {
    const auto port = openLine();
    ASSERT_NE(port, nullptr);
    std::uint8_t buffer[1024];
    port->readAvailable(buffer);
    WaitForSingleObject(static_cast<HANDLE>(link::idleWakeEvent()), 0);
    for (int i = 0; i < 3; ++i) {
        const ULONGLONG start = GetTickCount64();
        EXPECT_TRUE(port->waitForBytes(138, 300)) << "wait " << i;
        EXPECT_GE(GetTickCount64() - start, 250u) << "wait " << i << " ended early";
    }
    // Bytes that come during such a wait still end it, long before its limit.
    std::thread sender([] {
        Sleep(100);
        askFarSide("send 0102030405");
    });
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(port->waitForBytes(5, 5000));
    const ULONGLONG took = GetTickCount64() - start;
    sender.join();
    EXPECT_LT(took, 2500u);
    EXPECT_EQ(readBytes(*port, 5).size(), 5u);
}

TEST(SerialLine, FramesFromTheLineAreDecodedAndAVanishedFarSideEndsNothing) {
    state::resetScopeState();
    const auto port = openLine();
    ASSERT_NE(port, nullptr);
    std::atomic<int> frames{0};
    link::AcquisitionJob job;
    job.source = port;
    job.frameComplete = [&frames] { ++frames; };
    const int thread = link::startAcquisition(std::move(job));
    ASSERT_NE(thread, 0);

    sim::FrameSamplesArray samples{};
    for (int i = 0; i < sim::FrameSamples; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(20 + i % 80);
    }
    const sim::FrameSettings settings{sim::switchesByte(sim::Coupling::Dc, sim::Range::V1), 4,
                                      sim::triggerByte(sim::Source::Auto, false),
                                      sim::levelByte(sim::Level::P05)};
    std::vector<std::uint8_t> stream;
    for (int n = 0; n < 4; ++n) {
        const auto frame = sim::buildFrame(settings, samples);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    ASSERT_EQ(askFarSide("send " + hexOf(stream)), "sent " + std::to_string(stream.size()));
    const ULONGLONG start = GetTickCount64();
    while (frames < 3 && GetTickCount64() - start < 3000) {
        Sleep(10);
    }
    // The first frame's sync byte only sets the decoder in step, so at least three are whole.
    EXPECT_GE(frames.load(), 3);
    {
        std::lock_guard lock(state::scopeLock());
        EXPECT_EQ(state::scope.channel[0].samples[10], samples[10]);
    }

    ASSERT_EQ(askFarSide("hangup"), "gone");
    // The thread goes on cycling on a line that reads as nothing, and stops when asked.
    const std::uint64_t cyclesBefore = link::acquisitionStats().cycles;
    const std::uint64_t bytesBefore = link::acquisitionStats().bytesDecoded;
    Sleep(300);
    EXPECT_GT(link::acquisitionStats().cycles, cyclesBefore);
    EXPECT_EQ(link::acquisitionStats().bytesDecoded, bytesBefore);
    link::stopAcquisition(thread);
    EXPECT_FALSE(port->isOpen());

    // The name still maps to the link, whose terminal is gone: not a port any more.
    EXPECT_EQ(link::portPresence(link::comDevicePath(PortName)), link::PortPresence::Missing);
    EXPECT_EQ(openLine(), nullptr);
    toolkit::toolkitEnd(); // forgets the ended thread
}

} // namespace
