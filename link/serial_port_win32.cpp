// Serial ports on Windows: the COM ports themselves, through the communications calls.
//
// A port is opened by its device name "\\.\COMn" (the plain "COMn:" form only reaches COM1..COM9)
// for exclusive use; another program holding it makes CreateFile fail with ERROR_ACCESS_DENIED,
// which is how the probe tells a busy port from a missing one. Reads never wait: the time-outs
// (MAXDWORD, 0, 0) make ReadFile return at once with what has arrived.
#include "link/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <mutex>

namespace veltrace::link {

struct SerialPort::Native {
    mutable std::mutex lock; // guards handle: a close never happens under a read
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::string portName;
    AppliedLineSettings applied;
};

namespace {

constexpr DWORD ReadPiece = 256;

std::wstring wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

HANDLE openDevice(const std::string& path) {
    return CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

// A port whose device has no line state is not a serial device we can use: Wine's mapping of a
// COM name to a device that is gone opens, but refuses GetCommState.
bool answersAsPort(HANDLE handle) {
    DCB state{};
    state.DCBlength = sizeof(DCB);
    return GetCommState(handle, &state) != 0;
}

DCB buildDcb(const LineSettings& line) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    dcb.BaudRate = line.baudRate;
    dcb.ByteSize = line.byteSize;
    dcb.Parity = static_cast<BYTE>(line.parity);
    dcb.StopBits = line.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE; // the only mode the driver has
    dcb.fParity = line.parityCheck ? TRUE : FALSE;
    dcb.fOutxCtsFlow = line.hardwareFlowControl ? TRUE : FALSE;
    dcb.fRtsControl = line.hardwareFlowControl
                          ? RTS_CONTROL_HANDSHAKE
                          : (line.rtsOn ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
    dcb.fDtrControl = line.dtrOn ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fOutX = line.softwareFlowControl ? TRUE : FALSE;
    dcb.fInX = line.softwareFlowControl ? TRUE : FALSE;
    // Everything else stays 0: no DSR flow or sensitivity, no error-character replacement,
    // null bytes kept, no abort on error.
    return dcb;
}

AppliedLineSettings describe(const DCB& dcb, const COMMTIMEOUTS& timeouts, bool timeoutsSet) {
    AppliedLineSettings applied;
    applied.applied = true;
    applied.baudRate = dcb.BaudRate;
    applied.dataBits = dcb.ByteSize;
    applied.parity = static_cast<Parity>(dcb.Parity);
    applied.stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
    applied.parityCheck = dcb.fParity != 0;
    applied.hardwareFlowControl = dcb.fOutxCtsFlow != 0 || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
    applied.softwareFlowControl = dcb.fOutX != 0 || dcb.fInX != 0;
    // The driver delivers bytes as they are, with no line editing or translation.
    applied.raw = dcb.fBinary != 0 && dcb.fErrorChar == 0 && dcb.fNull == 0;
    applied.receiverOn = dcb.fOutxDsrFlow == 0 && dcb.fDsrSensitivity == 0;
    applied.immediateReads = timeoutsSet && timeouts.ReadIntervalTimeout == MAXDWORD &&
                             timeouts.ReadTotalTimeoutMultiplier == 0 &&
                             timeouts.ReadTotalTimeoutConstant == 0;
    return applied;
}

AppliedLineSettings configurePort(HANDLE handle, const PortConfig& config) {
    DCB wanted = buildDcb(config.lineSettings);
    SetCommState(handle, &wanted);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = config.timeouts.readInterval;
    timeouts.ReadTotalTimeoutMultiplier = config.timeouts.readTotalMultiplier;
    timeouts.ReadTotalTimeoutConstant = config.timeouts.readTotalConstant;
    timeouts.WriteTotalTimeoutMultiplier = config.timeouts.writeTotalMultiplier;
    timeouts.WriteTotalTimeoutConstant = config.timeouts.writeTotalConstant;
    const bool timeoutsSet = SetCommTimeouts(handle, &timeouts) != 0;
    if (timeoutsSet) {
        SetupComm(handle, config.inQueueSize, config.outQueueSize);
    }
    // What the driver kept, read back.
    DCB kept{};
    kept.DCBlength = sizeof(DCB);
    if (!GetCommState(handle, &kept)) {
        kept = wanted;
    }
    COMMTIMEOUTS keptTimeouts{};
    if (!GetCommTimeouts(handle, &keptTimeouts)) {
        keptTimeouts = timeouts;
    }
    return describe(kept, keptTimeouts, timeoutsSet);
}

// The device is gone (a USB adapter pulled): reading again will not help until it is back.
bool meansDeviceLost(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND ||
           error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_GEN_FAILURE ||
           error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_HANDLE;
}

} // namespace

std::string comDevicePath(const std::string& portName) {
    const int number = comPortNumber(portName);
    return number == 0 ? "" : "\\\\.\\COM" + std::to_string(number);
}

PortPresence portPresence(const std::string& devicePath) {
    if (devicePath.empty()) {
        return PortPresence::Missing;
    }
    const HANDLE handle = openDevice(devicePath);
    if (handle == INVALID_HANDLE_VALUE) {
        // Held by another program. (A port this user may not open at all does not exist on
        // Windows: the ports belong to every user.)
        return GetLastError() == ERROR_ACCESS_DENIED ? PortPresence::Busy : PortPresence::Missing;
    }
    const bool port = answersAsPort(handle);
    CloseHandle(handle);
    return port ? PortPresence::Free : PortPresence::Missing;
}

SerialPort::SerialPort(std::unique_ptr<Native> native) : native_(std::move(native)) {}

SerialPort::~SerialPort() {
    close();
}

ReadResult SerialPort::readAvailable(std::span<std::uint8_t> buffer) {
    std::lock_guard lock(native_->lock);
    ReadResult result;
    if (native_->handle == INVALID_HANDLE_VALUE) {
        return result;
    }
    while (result.count < buffer.size()) {
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(ReadPiece, buffer.size() - result.count));
        DWORD got = 0;
        if (!ReadFile(native_->handle, buffer.data() + result.count, want, &got, nullptr)) {
            result.deviceLost = meansDeviceLost(GetLastError());
            break;
        }
        if (got == 0) {
            break; // the driver's queue is empty
        }
        result.count += got;
    }
    return result;
}

// A framing or overrun error latches in the driver and stops further reads until it is
// cleared; what was received stays in the queue.
void SerialPort::clearErrors() {
    std::lock_guard lock(native_->lock);
    if (native_->handle != INVALID_HANDLE_VALUE) {
        DWORD errors = 0;
        COMSTAT status{};
        ClearCommError(native_->handle, &errors, &status);
    }
}

void SerialPort::close() {
    std::lock_guard lock(native_->lock);
    if (native_->handle != INVALID_HANDLE_VALUE) {
        CloseHandle(native_->handle);
        native_->handle = INVALID_HANDLE_VALUE;
    }
}

bool SerialPort::isOpen() const {
    std::lock_guard lock(native_->lock);
    return native_->handle != INVALID_HANDLE_VALUE;
}

const std::string& SerialPort::portName() const {
    return native_->portName;
}

AppliedLineSettings SerialPort::appliedLineSettings() const {
    return native_->applied;
}

int SerialPort::pendingBytes() const {
    std::lock_guard lock(native_->lock);
    DWORD errors = 0;
    COMSTAT status{};
    if (native_->handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    // ClearCommError also reports the queue; the error flags it clears are only read here.
    if (!ClearCommError(native_->handle, &errors, &status)) {
        return -1;
    }
    return static_cast<int>(status.cbInQue);
}

std::shared_ptr<SerialPort> openPort(const PortConfig& config) {
    const std::string path = comDevicePath(config.portName);
    if (path.empty()) {
        return nullptr;
    }
    const HANDLE handle = openDevice(path);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    if (!answersAsPort(handle)) {
        CloseHandle(handle);
        return nullptr;
    }
    auto native = std::make_unique<SerialPort::Native>();
    native->handle = handle;
    native->portName = config.portName;
    native->applied = configurePort(handle, config);
    return std::make_shared<SerialPort>(std::move(native));
}

} // namespace veltrace::link
