// Serial ports as the scope's users know them, COM1..COM16, and the open port as a byte source.
//
// Each COM name maps to one device (VELTRACE_COM<n> first, then a fixed table); no other name can
// be opened, so a hand-edited settings file can never make the program open an arbitrary file.
// This header is the same on every platform; serial_port_posix.cpp implements it on termios.
#pragma once

#include "link/byte_source.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace veltrace::link {

// Serial time-outs in the device's own terms; with these values a read returns at once with
// whatever has arrived (the POSIX layer reads non-blocking, which is the same contract).
struct CommTimeouts {
    std::uint32_t readInterval = 0xFFFFFFFFu;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 1;
    std::uint32_t writeTotalConstant = 10;
};

// Parity codes as the device-control record counts them.
enum class Parity : std::uint8_t { None = 0, Odd = 1, Even = 2 };

// Line settings to apply when the port is opened: 19200 baud, 7N1, no flow control, DTR and RTS
// held off, no parity checking.
struct LineSettings {
    std::uint32_t baudRate = 19200;
    std::uint8_t byteSize = 7;
    Parity parity = Parity::None;
    std::uint8_t stopBits = 1;
    bool parityCheck = false;
    bool hardwareFlowControl = false;
    bool softwareFlowControl = false;
    bool dtrOn = false;
    bool rtsOn = false;
};

struct PortConfig {
    std::string portName; // short form, e.g. "COM3"
    std::uint32_t inQueueSize = 256;
    std::uint32_t outQueueSize = 256;
    CommTimeouts timeouts;
    LineSettings lineSettings;
};

// What the platform was given when the port was configured, read back from its own record (a
// pseudo-terminal keeps CS8 whatever it is told, so tests look at what we asked for here).
struct AppliedLineSettings {
    bool applied = false; // false when the device refused any line configuration
    std::uint32_t baudRate = 0;
    int dataBits = 0;
    Parity parity = Parity::None;
    int stopBits = 0;
    bool parityCheck = false;
    bool hardwareFlowControl = false;
    bool softwareFlowControl = false;
    // No line editing, echo, signal characters, or translation of input or output.
    bool raw = false;
    // The receiver is on and modem status lines do not gate it.
    bool receiverOn = false;
    // A read hands out every byte as it comes (the equivalent of read time-outs that return at
    // once); on POSIX, VMIN 1 and VTIME 0 on a non-blocking descriptor.
    bool immediateReads = false;
};

// The port names: "COM1".."COM16".
inline constexpr int PortCount = 16;
// n for "COMn" written without leading zeros, n = 1..PortCount; 0 for any other name.
int comPortNumber(const std::string& portName);
// Device path of "COM1".."COM16"; "" for any other name.
std::string comDevicePath(const std::string& portName);

// What opening a device path shows about it without keeping it: missing (no such device or it
// does not answer), free, busy (exclusive open or another Veltrace's lock) or present but not
// accessible to this user.
enum class PortPresence { Missing, Free, Busy, NoAccess };
PortPresence portPresence(const std::string& devicePath);

// The names of the ports that exist (free, busy or not accessible), COM1..COM16 in ascending
// number.
std::vector<std::string> probePorts();

// An open, configured port. Reads take what has arrived, in pieces of at most 256 bytes, until
// nothing more is there or the buffer is full; nothing received is ever discarded. close() may
// come from another thread than the reader: the port's own lock keeps a descriptor from being
// closed under a read, so a reused descriptor number can never be read by mistake.
class SerialPort final : public ByteSource {
  public:
    struct Native;
    explicit SerialPort(std::unique_ptr<Native> native);
    ~SerialPort() override;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    ReadResult readAvailable(std::span<std::uint8_t> buffer) override;
    void clearErrors() override;
    void close() override;
    bool waitForBytes(std::size_t wanted, int timeoutMs) override;

    bool isOpen() const;
    const std::string& portName() const;
    AppliedLineSettings appliedLineSettings() const;
    // Bytes waiting in the driver, -1 when that cannot be told (for tests and diagnostics).
    int pendingBytes() const;

  private:
    std::unique_ptr<Native> native_;
};

// Opens config.portName for our exclusive use and configures the line; null when it cannot be
// opened (not a port name, missing, busy, no permission). A port that opened but refused its
// configuration still counts as open. Shows nothing: telling the user is the caller's business.
std::shared_ptr<SerialPort> openPort(const PortConfig& config);

} // namespace veltrace::link
