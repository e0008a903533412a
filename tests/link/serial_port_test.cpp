// The serial layer on pseudo-terminals: which names map to which devices, what the probe lists,
// how a port is opened and configured, exclusive use, draining, and closing.
#include "app/scope_state.h"
#include "link/pty.h"
#include "link/serial_port.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
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

// Waits (bounded) until the slave side holds at least `count` unread bytes.
bool waitForPending(int fd, int count) {
    for (int i = 0; i < 500; ++i) {
        int pending = 0;
        if (ioctl(fd, FIONREAD, &pending) == 0 && pending >= count) {
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

struct ShownBox {
    std::string caption;
    std::string text;
    int flags = 0;
};

// Every test starts from a fresh scope state, isolated ports and a message box that records
// instead of showing anything.
class SerialFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        app::resetScopeState();
        isolatePorts();
        toolkit::setMessageBoxHook(
            [this](const std::string& caption, const std::string& text, int flags) {
                boxes.push_back({caption, text, flags});
                return 1;
            });
    }
    void TearDown() override {
        closePort(app::scope.portConfig);
        toolkit::setMessageBoxHook(nullptr);
        unsetAllPorts();
    }

    // Opens COM<n> mapped to the pty in a port record of its own.
    int openOn(app::PortConfig& config, int n, const Pty& pty) {
        mapPort(n, pty.slavePath);
        config.portName = "COM" + std::to_string(n);
        return openPort(config);
    }

    std::vector<ShownBox> boxes;
};

std::string expectedMessage(const std::string& name) {
    return "Com Port " + name +
           " not available or busy. Use 'File'/'COM Port' on the menu to setup your ports.";
}

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
    probePorts();
    ASSERT_EQ(app::scope.comPortCount, 3);
    EXPECT_EQ(app::scope.comPortNames[0], "COM2");
    EXPECT_EQ(app::scope.comPortNames[1], "COM7");
    EXPECT_EQ(app::scope.comPortNames[2], "COM16");
    for (int i = 3; i < 16; ++i) {
        EXPECT_EQ(app::scope.comPortNames[static_cast<std::size_t>(i)], "") << i;
    }
    EXPECT_TRUE(boxes.empty());
}

TEST_F(PortProbe, NoPortsLeavesAnEmptyList) {
    app::scope.comPortCount = 5; // a stale count must not survive
    app::scope.comPortNames[0] = "COM9";
    probePorts();
    EXPECT_EQ(app::scope.comPortCount, 0);
    EXPECT_EQ(app::scope.comPortNames[0], "");
}

TEST_F(PortProbe, PortHeldByAnotherVeltraceIsListedAsBusy) {
    Pty held, free;
    app::PortConfig other;
    ASSERT_GT(openOn(other, 11, held), 0);
    mapPort(4, free.slavePath);
    probePorts();
    ASSERT_EQ(app::scope.comPortCount, 2);
    EXPECT_EQ(app::scope.comPortNames[0], "COM4");
    EXPECT_EQ(app::scope.comPortNames[1], "COM11");
    EXPECT_EQ(portPresence(held.slavePath), PortPresence::Busy);
    EXPECT_EQ(portPresence(free.slavePath), PortPresence::Free);
    EXPECT_EQ(portPresence("/nonexistent/veltrace-test/x"), PortPresence::Missing);
    // The probe itself must not keep anything open or locked.
    app::PortConfig later;
    EXPECT_GT(openOn(later, 4, free), 0);
    closePort(later);
    closePort(other);
}

// ---- Opening and configuring -----------------------------------------------------------------

class PortOpenConfiguration : public SerialFixture {};

TEST_F(PortOpenConfiguration, AppliesRawSevenBitsNoParityOneStopAt19200) {
    Pty pty;
    const int handle = openOn(app::scope.portConfig, 3, pty);
    ASSERT_GT(handle, 0);
    EXPECT_EQ(app::scope.portConfig.portHandle, handle);
    EXPECT_TRUE(boxes.empty());

    const termios t = lastAppliedTermios();
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK | ISTRIP | ICRNL | INLCR | IGNCR), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);

    // The pseudo-terminal keeps CS8, but the raw mode itself really reached the device.
    termios applied{};
    ASSERT_EQ(tcgetattr(handle, &applied), 0);
    EXPECT_EQ(applied.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(applied.c_cc[VMIN], 1);
    EXPECT_EQ(cfgetispeed(&applied), static_cast<speed_t>(B19200));
}

TEST_F(PortOpenConfiguration, DescriptorIsNonBlockingAndClosedOnExec) {
    Pty pty;
    const int handle = openOn(app::scope.portConfig, 1, pty);
    ASSERT_GT(handle, 0);
    EXPECT_NE(fcntl(handle, F_GETFL) & O_NONBLOCK, 0);
    EXPECT_NE(fcntl(handle, F_GETFD) & FD_CLOEXEC, 0);
}

TEST_F(PortOpenConfiguration, NeverHandsOutDescriptorZero) {
    Pty pty;
    const int savedInput = dup(0);
    ASSERT_GE(savedInput, 0);
    close(0); // the next open() would return 0, which the record reads as "closed"
    const int handle = openOn(app::scope.portConfig, 1, pty);
    dup2(savedInput, 0);
    close(savedInput);
    EXPECT_GT(handle, 0);
    EXPECT_EQ(app::scope.portConfig.portHandle, handle);
    pty.send({0x11, 0x22});
    ASSERT_TRUE(waitForPending(handle, 2));
    EXPECT_EQ(readPort(app::scope.portConfig), 2);
}

// ---- Failing opens ---------------------------------------------------------------------------

class PortOpenFailure : public SerialFixture {};

TEST_F(PortOpenFailure, SecondOpenOfAnOpenPortFailsAndNamesThePort) {
    Pty pty;
    ASSERT_GT(openOn(app::scope.portConfig, 3, pty), 0);
    app::PortConfig second;
    second.portName = "COM3";
    // Root ignores TIOCEXCL; the lock must keep the second open out all the same.
    EXPECT_EQ(openPort(second), 0);
    EXPECT_EQ(second.portHandle, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "info");
    EXPECT_EQ(boxes[0].text, expectedMessage("COM3"));
    EXPECT_EQ(boxes[0].flags, toolkit::MessageBoxOkExclamation);

    // The first opener is undisturbed.
    pty.send({1, 2, 3});
    ASSERT_TRUE(waitForPending(app::scope.portConfig.portHandle, 3));
    EXPECT_EQ(readPort(app::scope.portConfig), 3);
}

TEST_F(PortOpenFailure, NamesOutsideTheTableNeverOpenAnything) {
    for (const std::string name : {"/etc/passwd", "COM17", "COM03", "com1"}) {
        boxes.clear();
        app::PortConfig config;
        config.portName = name;
        EXPECT_EQ(openPort(config), 0) << name;
        EXPECT_EQ(config.portHandle, 0) << name;
        ASSERT_EQ(boxes.size(), 1u) << name;
        EXPECT_EQ(boxes[0].text, expectedMessage(name));
    }
}

TEST_F(PortOpenFailure, MissingDeviceShowsTheMessageOnce) {
    app::PortConfig config;
    config.portName = "COM5";
    config.portHandle = 0;
    EXPECT_EQ(openPort(config), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, expectedMessage("COM5"));
}

// ---- Draining --------------------------------------------------------------------------------

class PortRead : public SerialFixture {};

TEST_F(PortRead, TakesExactly1024AndLeavesTheRestInOrderForTheNextCall) {
    Pty pty;
    const int handle = openOn(app::scope.portConfig, 1, pty);
    ASSERT_GT(handle, 0);
    const std::vector<std::uint8_t> sent = pattern(1500);
    pty.send(sent);
    ASSERT_TRUE(waitForPending(handle, 1500));

    auto& config = app::scope.portConfig;
    ASSERT_EQ(readPort(config), 1024);
    EXPECT_EQ(config.rxCount, 1024);
    std::vector<std::uint8_t> received(config.rxBuffer.begin(), config.rxBuffer.begin() + 1024);

    ASSERT_EQ(readPort(config), 476);
    EXPECT_EQ(config.rxCount, 476);
    // Each call fills from the start of the buffer.
    received.insert(received.end(), config.rxBuffer.begin(), config.rxBuffer.begin() + 476);
    EXPECT_EQ(received, sent);
}

TEST_F(PortRead, NothingWaitingReturnsZeroAndClearsTheCount) {
    Pty pty;
    ASSERT_GT(openOn(app::scope.portConfig, 1, pty), 0);
    app::scope.portConfig.rxCount = 77;
    EXPECT_EQ(readPort(app::scope.portConfig), 0);
    EXPECT_EQ(app::scope.portConfig.rxCount, 0);
}

TEST_F(PortRead, ClosedPortReturnsZeroAndLeavesTheCountAlone) {
    app::scope.portConfig.rxCount = 42;
    EXPECT_EQ(readPort(app::scope.portConfig), 0);
    EXPECT_EQ(app::scope.portConfig.rxCount, 42);
}

TEST_F(PortRead, ControlCharactersArriveUntranslated) {
    Pty pty;
    const int handle = openOn(app::scope.portConfig, 2, pty);
    ASSERT_GT(handle, 0);
    // Values a cooked line would translate or swallow: CR, NL, XON/XOFF, interrupt, EOF, DEL.
    const std::vector<std::uint8_t> sent = {0x0D, 0x0A, 0x11, 0x13, 0x03, 0x04, 0x7F, 0x00, 0x1A};
    pty.send(sent);
    ASSERT_TRUE(waitForPending(handle, static_cast<int>(sent.size())));
    ASSERT_EQ(readPort(app::scope.portConfig), static_cast<int>(sent.size()));
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), app::scope.portConfig.rxBuffer.begin()));
}

TEST_F(PortRead, FarSideGoneReadsAsNothing) {
    Pty pty;
    ASSERT_GT(openOn(app::scope.portConfig, 1, pty), 0);
    pty.closeMaster();
    EXPECT_EQ(readPort(app::scope.portConfig), 0);
    EXPECT_EQ(readPort(app::scope.portConfig), 0);
    EXPECT_NE(app::scope.portConfig.portHandle, 0); // still open until closed
}

// ---- Closing ---------------------------------------------------------------------------------

class PortClose : public SerialFixture {};

TEST_F(PortClose, TwiceIsHarmlessAndReleasesThePortForTheNextOpen) {
    Pty pty;
    ASSERT_GT(openOn(app::scope.portConfig, 6, pty), 0);
    EXPECT_EQ(closePort(app::scope.portConfig), 0);
    EXPECT_EQ(app::scope.portConfig.portHandle, 0);
    EXPECT_EQ(closePort(app::scope.portConfig), 0);
    EXPECT_EQ(app::scope.portConfig.portHandle, 0);
    // The exclusive lock went with the descriptor.
    app::PortConfig again;
    EXPECT_GT(openOn(again, 6, pty), 0);
    closePort(again);
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace veltrace::link
