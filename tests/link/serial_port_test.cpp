// The serial layer on pseudo-terminals: which names map to which devices, what the probe lists,
// how a port is opened and configured, exclusive use, draining, and closing.
#include "link/idle_wait.h"
#include "link/pty.h"
#include "link/serial_port.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace veltrace::link {
namespace {

using testing_support::Pty;

// Every COM name points at a path that does not exist, so the machine's own serial devices
// (a container may well have /dev/ttyS0) never take part.
void isolatePorts() {
    for (int n = 1; n <= 16; ++n) {
        const std::string variable = "VELTRACE_COM" + std::to_string(n);
        const std::string missing = "/nonexistent/veltrace-test/com" + std::to_string(n);
        setenv(variable.c_str(), missing.c_str(), 1);
    }
}

void mapPort(int n, const std::string& path) {
    setenv(("VELTRACE_COM" + std::to_string(n)).c_str(), path.c_str(), 1);
}

void unsetAllPorts() {
    for (int n = 1; n <= 16; ++n) {
        unsetenv(("VELTRACE_COM" + std::to_string(n)).c_str());
    }
}

// Waits (bounded) until the port holds at least `count` unread bytes.
bool waitForPending(const SerialPort& port, int count) {
    for (int i = 0; i < 500; ++i) {
        if (port.pendingBytes() >= count) {
            return true;
        }
        toolkit::pause(2);
    }
    return false;
}

std::vector<std::uint8_t> pattern(int count, int start = 0) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((start + i) % 128);
    }
    return bytes;
}

using Buffer = std::array<std::uint8_t, 1024>;

class SerialFixture : public ::testing::Test {
  protected:
    void SetUp() override { isolatePorts(); }
    void TearDown() override { unsetAllPorts(); }

    // Opens COM<n> mapped to the pty.
    static std::shared_ptr<SerialPort> openOn(int n, const Pty& pty) {
        mapPort(n, pty.slavePath);
        PortConfig config;
        config.portName = "COM" + std::to_string(n);
        return openPort(config);
    }
};

// ---- Names to devices ------------------------------------------------------------------------

class PortNameMapping : public SerialFixture {};

TEST_F(PortNameMapping, FixedTableCoversSerialUsbAndAcmDevices) {
    unsetAllPorts();
    const std::vector<std::pair<std::string, std::string>> table = {
        {"COM1", "/dev/ttyS0"},    {"COM4", "/dev/ttyS3"},    {"COM5", "/dev/ttyUSB0"},
        {"COM12", "/dev/ttyUSB7"}, {"COM13", "/dev/ttyACM0"}, {"COM16", "/dev/ttyACM3"},
        {"COM9", "/dev/ttyUSB4"},  {"COM10", "/dev/ttyUSB5"},
    };
    for (const auto& [name, device] : table) {
        EXPECT_EQ(comDevicePath(name), device) << name;
    }
}

TEST_F(PortNameMapping, EnvironmentVariableWinsUnlessEmpty) {
    unsetAllPorts();
    setenv("VELTRACE_COM3", "/dev/serial/by-id/usb-scope", 1);
    setenv("VELTRACE_COM14", "", 1);
    EXPECT_EQ(comDevicePath("COM3"), "/dev/serial/by-id/usb-scope");
    EXPECT_EQ(comDevicePath("COM14"), "/dev/ttyACM1");
    // VELTRACE_COM1 must not be read as a prefix of COM13's variable or the other way round.
    setenv("VELTRACE_COM1", "/tmp/one", 1);
    EXPECT_EQ(comDevicePath("COM13"), "/dev/ttyACM0");
}

TEST_F(PortNameMapping, OnlyComOneToSixteenInShortFormMapToAnything) {
    for (const std::string name :
         {"", "COM", "COM0", "COM17", "COM99", "COM03", "COM3:", "com3", "Com3", " COM3", "COM3 ",
          "COM1a", "COM-1", "/etc/passwd", "/dev/ttyS0", "COM100"}) {
        EXPECT_EQ(comDevicePath(name), "") << "'" << name << "'";
    }
}

// ---- The probe -------------------------------------------------------------------------------

class PortProbe : public SerialFixture {};

TEST_F(PortProbe, ListsPresentPortsInAscendingOrderAndSkipsMissingOnes) {
    Pty a, b, c;
    mapPort(16, a.slavePath);
    mapPort(2, b.slavePath);
    mapPort(7, c.slavePath);
    mapPort(9, "/nonexistent/veltrace-test/gone");
    EXPECT_EQ(probePorts(), (std::vector<std::string>{"COM2", "COM7", "COM16"}));
}

TEST_F(PortProbe, NoPortsGiveAnEmptyList) {
    EXPECT_TRUE(probePorts().empty());
}

TEST_F(PortProbe, PortHeldByAnotherVeltraceIsListedAsBusy) {
    Pty held, free;
    const auto other = openOn(11, held);
    ASSERT_TRUE(other);
    mapPort(4, free.slavePath);
    EXPECT_EQ(probePorts(), (std::vector<std::string>{"COM4", "COM11"}));
    EXPECT_EQ(portPresence(held.slavePath), PortPresence::Busy);
    EXPECT_EQ(portPresence(free.slavePath), PortPresence::Free);
    EXPECT_EQ(portPresence("/nonexistent/veltrace-test/x"), PortPresence::Missing);
    // The probe itself must not keep anything open or locked.
    EXPECT_TRUE(openOn(4, free));
}

// ---- Opening and configuring -----------------------------------------------------------------

class PortOpenConfiguration : public SerialFixture {};

TEST_F(PortOpenConfiguration, DefaultsAreNineteenTwoHundredSevenNoneOneWithoutFlowControl) {
    const PortConfig config;
    EXPECT_EQ(config.lineSettings.baudRate, 19200u);
    EXPECT_EQ(config.lineSettings.byteSize, 7);
    EXPECT_EQ(config.lineSettings.parity, Parity::None);
    EXPECT_EQ(config.lineSettings.stopBits, 1);
    EXPECT_FALSE(config.lineSettings.hardwareFlowControl ||
                 config.lineSettings.softwareFlowControl || config.lineSettings.parityCheck ||
                 config.lineSettings.dtrOn || config.lineSettings.rtsOn);
    EXPECT_EQ(config.timeouts.readInterval, 0xFFFFFFFFu);
    EXPECT_EQ(config.inQueueSize, 256u);
}

TEST_F(PortOpenConfiguration, AppliesRawSevenBitsNoParityOneStopAt19200) {
    Pty pty;
    const auto port = openOn(3, pty);
    ASSERT_TRUE(port);
    EXPECT_EQ(port->portName(), "COM3");

    const AppliedLineSettings applied = port->appliedLineSettings();
    EXPECT_TRUE(applied.applied);
    EXPECT_EQ(applied.baudRate, 19200u);
    EXPECT_EQ(applied.dataBits, 7);
    EXPECT_EQ(applied.parity, Parity::None);
    EXPECT_EQ(applied.stopBits, 1);
    EXPECT_FALSE(applied.parityCheck);
    EXPECT_FALSE(applied.hardwareFlowControl);
    EXPECT_FALSE(applied.softwareFlowControl);
    EXPECT_TRUE(applied.raw);
    EXPECT_TRUE(applied.receiverOn);
    EXPECT_TRUE(applied.immediateReads);

    // The pseudo-terminal keeps CS8, but the raw mode itself really reached the device.
    const int fd = open(pty.slavePath.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    close(fd);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
}

// ---- Failing opens ---------------------------------------------------------------------------

class PortOpenFailure : public SerialFixture {};

TEST_F(PortOpenFailure, SecondOpenOfAnOpenPortFails) {
    Pty pty;
    const auto first = openOn(3, pty);
    ASSERT_TRUE(first);
    // Root ignores TIOCEXCL; the lock must keep the second open out all the same.
    EXPECT_FALSE(openOn(3, pty));

    // The first opener is undisturbed.
    pty.send({1, 2, 3});
    ASSERT_TRUE(waitForPending(*first, 3));
    Buffer buffer{};
    EXPECT_EQ(first->readAvailable(buffer).count, 3u);
}

TEST_F(PortOpenFailure, NamesOutsideTheTableAndMissingDevicesNeverOpen) {
    for (const std::string name : {"/etc/passwd", "COM17", "COM03", "com1", "COM5"}) {
        PortConfig config;
        config.portName = name;
        EXPECT_FALSE(openPort(config)) << name;
    }
}

// ---- Draining --------------------------------------------------------------------------------

class PortRead : public SerialFixture {};

TEST_F(PortRead, TakesWhatFitsAndLeavesTheRestInOrderForTheNextCall) {
    Pty pty;
    const auto port = openOn(1, pty);
    ASSERT_TRUE(port);
    const std::vector<std::uint8_t> sent = pattern(1500);
    pty.send(sent);
    ASSERT_TRUE(waitForPending(*port, 1500));

    Buffer buffer{};
    ReadResult got = port->readAvailable(buffer);
    ASSERT_EQ(got.count, 1024u);
    EXPECT_FALSE(got.deviceLost);
    std::vector<std::uint8_t> received(buffer.begin(), buffer.begin() + 1024);

    got = port->readAvailable(buffer);
    ASSERT_EQ(got.count, 476u);
    // Each call fills from the start of the buffer.
    received.insert(received.end(), buffer.begin(), buffer.begin() + 476);
    EXPECT_EQ(received, sent);
}

TEST_F(PortRead, NothingWaitingReadsNothing) {
    Pty pty;
    const auto port = openOn(1, pty);
    ASSERT_TRUE(port);
    Buffer buffer{};
    const ReadResult got = port->readAvailable(buffer);
    EXPECT_EQ(got.count, 0u);
    EXPECT_FALSE(got.deviceLost);
}

TEST_F(PortRead, ControlCharactersArriveUntranslated) {
    Pty pty;
    const auto port = openOn(2, pty);
    ASSERT_TRUE(port);
    // Values a cooked line would translate or swallow: CR, NL, XON/XOFF, interrupt, EOF, DEL.
    const std::vector<std::uint8_t> sent = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x04, 0x7F, 0x00, 0x1A};
    pty.send(sent);
    ASSERT_TRUE(waitForPending(*port, static_cast<int>(sent.size())));
    Buffer buffer{};
    ASSERT_EQ(port->readAvailable(buffer).count, sent.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), buffer.begin()));
}

TEST_F(PortRead, FarSideGoneReadsAsNothingAndReportsTheDeviceLost) {
    Pty pty;
    const auto port = openOn(1, pty);
    ASSERT_TRUE(port);
    pty.closeMaster();
    Buffer buffer{};
    for (int i = 0; i < 2; ++i) {
        const ReadResult got = port->readAvailable(buffer);
        EXPECT_EQ(got.count, 0u);
        EXPECT_TRUE(got.deviceLost);
    }
    EXPECT_TRUE(port->isOpen()); // still open until closed
}

// ---- Closing ---------------------------------------------------------------------------------

class PortClose : public SerialFixture {};

TEST_F(PortClose, TwiceIsHarmlessReadsNothingAndReleasesThePortForTheNextOpen) {
    Pty pty;
    const auto port = openOn(6, pty);
    ASSERT_TRUE(port);
    pty.send({1, 2, 3});
    ASSERT_TRUE(waitForPending(*port, 3));
    port->close();
    EXPECT_FALSE(port->isOpen());
    port->close();
    // Bytes that had arrived before the close are not read from a closed port.
    Buffer buffer{};
    EXPECT_EQ(port->readAvailable(buffer).count, 0u);
    // The exclusive lock went with the descriptor.
    EXPECT_TRUE(openOn(6, pty));
}

TEST_F(PortClose, ThePortClosesWhenItsLastHolderLetsGo) {
    Pty pty;
    openOn(6, pty).reset();
    EXPECT_TRUE(openOn(6, pty));
}

// ---- Waiting for a silent port --------------------------------------------------------------

class PortIdleWaitThreaded : public SerialFixture {
  protected:
    void SetUp() override {
        SerialFixture::SetUp();
        // A port closed by an earlier test in this process left its wake behind; it would end
        // the first wait here early, as it is meant to end one stale wait.
        sleepUnlessWoken(1000);
    }

    // Runs `wait` on a thread of its own; each check below says what must end it. Should it not
    // end (the fault under test), `release` ends it so that the test fails instead of hanging.
    void startWait(std::function<void()> wait) {
        done = false;
        waiter = std::thread([this, wait = std::move(wait)] {
            wait();
            done = true;
        });
        // Give the thread time to be inside the wait; ending earlier would prove less.
        toolkit::pause(50);
    }
    bool waitEnded(const std::function<void()>& release) {
        const bool ended = testing_support::waitUntil([this] { return done.load(); });
        if (!ended) {
            release();
        }
        waiter.join();
        return ended;
    }

    std::thread waiter;
    std::atomic<bool> done{false};
};

TEST_F(PortIdleWaitThreaded, AWakeIsNeverLostAndEndsAWaitInProgress) {
    Pty pty;
    const auto port = openOn(1, pty);
    ASSERT_TRUE(port);
    // A wake given before the wait begins (a stop requested just before the reader waits).
    wakeIdleWaits();
    startWait([&] { port->waitForBytes(1, -1); });
    EXPECT_TRUE(waitEnded([&] { pty.send({0}); }));
    // A wake given while a wait is in progress.
    startWait([&] { port->waitForBytes(1, -1); });
    wakeIdleWaits();
    EXPECT_TRUE(waitEnded([&] { pty.send({0}); }));
}

TEST_F(PortIdleWaitThreaded, ArrivingBytesAHangUpOrACloseEndTheWait) {
    Pty pty;
    const auto port = openOn(2, pty);
    ASSERT_TRUE(port);
    startWait([&] { port->waitForBytes(1, -1); });
    pty.send({0x55, 0x2A});
    EXPECT_TRUE(waitEnded(wakeIdleWaits));
    Buffer buffer{};
    EXPECT_EQ(port->readAvailable(buffer).count, 2u);

    startWait([&] { port->waitForBytes(1, -1); });
    port->close(); // from another thread, as a port change closes the port
    // The wait holds its own descriptor of the line, which a byte still reaches.
    EXPECT_TRUE(waitEnded([&] { pty.send({0}); }));
    EXPECT_FALSE(port->waitForBytes(1, -1)); // a closed port cannot be waited on

    const auto again = openOn(3, pty);
    ASSERT_TRUE(again);
    startWait([&] { again->waitForBytes(1, -1); });
    pty.closeMaster(); // the device goes away
    EXPECT_TRUE(waitEnded(wakeIdleWaits));
    EXPECT_TRUE(again->readAvailable(buffer).deviceLost);
}

// ---- Waiting for the rest of a frame --------------------------------------------------------

TEST_F(PortIdleWaitThreaded, AWaitForSeveralBytesEndsOnlyWhenAllOfThemAreThere) {
    Pty pty;
    const auto port = openOn(4, pty);
    ASSERT_TRUE(port);
    // Half of what is asked for was there before the wait and the same again comes during it;
    // only the last byte ends the wait, whether it comes alone or with others.
    pty.send({1, 2, 3, 4, 5});
    ASSERT_TRUE(waitForPending(*port, 5));
    startWait([&] { port->waitForBytes(11, -1); });
    pty.send({6, 7, 8, 9, 10});
    toolkit::pause(100);
    EXPECT_FALSE(done.load()) << "the wait ended before the eleventh byte";
    pty.send({11, 12});
    EXPECT_TRUE(waitEnded(wakeIdleWaits));
    Buffer buffer{};
    EXPECT_EQ(port->readAvailable(buffer).count, 12u);

    // What is there already ends it at once; so does a wake, and a close, halfway.
    pty.send({1, 2, 3});
    ASSERT_TRUE(waitForPending(*port, 3));
    startWait([&] { port->waitForBytes(3, -1); });
    EXPECT_TRUE(waitEnded([&] { pty.send({0, 0, 0}); }));
    EXPECT_EQ(port->readAvailable(buffer).count, 3u);
    startWait([&] { port->waitForBytes(138, -1); });
    wakeIdleWaits();
    EXPECT_TRUE(waitEnded([&] { pty.send(std::vector<std::uint8_t>(138, 0)); }));
    startWait([&] { port->waitForBytes(138, -1); });
    port->close();
    EXPECT_TRUE(waitEnded([&] { pty.send(std::vector<std::uint8_t>(138, 0)); }));
}

TEST_F(PortIdleWaitThreaded, AWaitOnAHungUpLineSaysSoSoItsReaderKeepsItsPace) {
    Pty pty;
    const auto port = openOn(5, pty);
    ASSERT_TRUE(port);
    pty.closeMaster();
    Buffer buffer{};
    EXPECT_TRUE(port->readAvailable(buffer).deviceLost);
    // Reporting the wait as done would let the reader spin on a line that reads as ended.
    EXPECT_FALSE(port->waitForBytes(138, 1000));
}

TEST_F(PortIdleWaitThreaded, ATimedOutWaitLeavesTheBytesThereForTheNextRead) {
    Pty pty;
    const auto port = openOn(7, pty);
    ASSERT_TRUE(port);
    pty.send({9, 8, 7});
    ASSERT_TRUE(waitForPending(*port, 3));
    EXPECT_TRUE(port->waitForBytes(138, 50)); // a device that stopped halfway through a frame
    Buffer buffer{};
    const ReadResult got = port->readAvailable(buffer);
    ASSERT_EQ(got.count, 3u);
    EXPECT_EQ(buffer[0], 9);
    EXPECT_EQ(buffer[2], 7);
}

TEST_F(PortIdleWaitThreaded, EveryReturnFromASystemWaitIsCountedAndNoOtherLook) {
    Pty pty;
    const auto port = openOn(8, pty);
    ASSERT_TRUE(port);
    // A silent line: the wait sleeps in the system and returns from it at its limit.
    std::uint64_t before = waitReturns();
    EXPECT_TRUE(port->waitForBytes(1, 50));
    EXPECT_GE(waitReturns(), before + 1);
    // Bytes already there: the wait returns without waiting, and nothing is counted.
    pty.send({1, 2, 3});
    ASSERT_TRUE(waitForPending(*port, 3));
    before = waitReturns();
    EXPECT_TRUE(port->waitForBytes(3, 1000));
    EXPECT_EQ(waitReturns(), before);
    // A wake ends a wait in progress: that one return is counted too.
    Buffer buffer{};
    ASSERT_EQ(port->readAvailable(buffer).count, 3u);
    before = waitReturns();
    startWait([&] { port->waitForBytes(138, -1); });
    wakeIdleWaits();
    EXPECT_TRUE(waitEnded([&] { pty.send(std::vector<std::uint8_t>(138, 0)); }));
    EXPECT_GE(waitReturns(), before + 1);
}

} // namespace
} // namespace veltrace::link
