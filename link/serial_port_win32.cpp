// Serial ports on Windows: the COM ports themselves, through the communications calls.
//
// A port is opened by its device name "\\.\COMn" (the plain "COMn:" form only reaches COM1..COM9)
// for exclusive use; another program holding it makes CreateFile fail with ERROR_ACCESS_DENIED,
// which is how the probe tells a busy port from a missing one. Reads never wait: the time-outs
// (MAXDWORD, 0, 0) make ReadFile return at once with what has arrived. The handle is opened for
// overlapped use so that the wait for bytes (WaitCommEvent on EV_RXCHAR) can be ended by the
// wake event of link/idle_wait_win32.cpp.
#include "link/serial_port.h"

#include "link/idle_wait.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace veltrace::link {

struct SerialPort::Native {
    mutable std::mutex lock; // guards handle: a close never happens under a read
    // Held for a whole wait: a close wakes the wait and takes this before it closes the handle,
    // so the handle never goes (nor its number is reused) under a pending WaitCommEvent.
    std::mutex waitLock;
    // Set by a close before it wakes the wait: the reader, woken, could otherwise take the wait
    // lock again before the close does and begin a new wait that nothing wakes.
    std::atomic<bool> closing{false};
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE ioEvent = nullptr; // for the overlapped calls, all made by the one reading thread
    std::string portName;
    AppliedLineSettings applied;
    // The last read found nothing: the device is silent, not in the middle of a frame, so a
    // wait has no line time to sleep through first.
    bool quiet = false;
    // The driver ended a wait for EV_RXCHAR as aborted that nobody asked to end (Wine does so on
    // a line that answers no modem status): from then on the waits look at the queue after
    // pauses instead, which costs a few wake-ups, where giving up each wait would cost the
    // reader's plain cycle at a hundred a second.
    bool noCharacterEvents = false;
};

namespace {

constexpr std::size_t ReadPiece = 256;

std::wstring wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

HANDLE openDevice(const std::string& path) {
    return CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
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

// An overlapped call that the driver may finish later: waits for it. False when it failed.
bool finish(HANDLE handle, OVERLAPPED& overlapped, BOOL started, DWORD& transferred) {
    if (started) {
        return GetOverlappedResult(handle, &overlapped, &transferred, FALSE) != 0;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    return GetOverlappedResult(handle, &overlapped, &transferred, TRUE) != 0;
}

// How long the line takes at least to carry `bytes` characters, in milliseconds (rounded down).
DWORD lineTimeMs(const AppliedLineSettings& line, std::size_t bytes) {
    if (!line.applied || line.baudRate == 0) {
        return 0;
    }
    const unsigned long bits =
        1 + line.dataBits + (line.parity == Parity::None ? 0 : 1) + line.stopBits;
    return static_cast<DWORD>(bytes * bits * 1000 / line.baudRate);
}

// The longest pause between two looks at a driver whose EV_RXCHAR does not tell new bytes.
constexpr DWORD IdlePauseLimitMs = 1000;

// What the driver holds; false when the device cannot be asked any more (it is gone).
bool queued(HANDLE handle, std::size_t& bytes) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle, &errors, &status)) {
        return false;
    }
    bytes = status.cbInQue;
    return true;
}

// The system waits of the wait for bytes, each return counted for the statistics report.
DWORD countedWait(HANDLE object, DWORD milliseconds) {
    const DWORD ended = WaitForSingleObject(object, milliseconds);
    countWaitReturn();
    return ended;
}

DWORD countedWait(DWORD count, const HANDLE* objects, DWORD milliseconds) {
    const DWORD ended = WaitForMultipleObjects(count, objects, FALSE, milliseconds);
    countWaitReturn();
    return ended;
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
        // Only what the driver holds: an overlapped read of more may wait for it (Wine's does,
        // whatever the time-outs say), and reads never wait.
        std::size_t held = 0;
        if (!queued(native_->handle, held)) {
            result.deviceLost = meansDeviceLost(GetLastError());
            break;
        }
        if (held == 0) {
            break;
        }
        const DWORD want =
            static_cast<DWORD>(std::min({ReadPiece, buffer.size() - result.count, held}));
        DWORD got = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = native_->ioEvent;
        const BOOL started =
            ReadFile(native_->handle, buffer.data() + result.count, want, &got, &overlapped);
        if (!finish(native_->handle, overlapped, started, got)) {
            result.deviceLost = meansDeviceLost(GetLastError());
            break;
        }
        if (got == 0) {
            break; // the driver's queue is empty
        }
        result.count += got;
    }
    native_->quiet = result.count == 0;
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
    // A wait in progress ends at the wake and lets go of the handle.
    native_->closing = true;
    wakeIdleWaits();
    std::lock_guard waiting(native_->waitLock);
    std::lock_guard lock(native_->lock);
    if (native_->handle != INVALID_HANDLE_VALUE) {
        CloseHandle(native_->handle);
        native_->handle = INVALID_HANDLE_VALUE;
    }
    if (native_->ioEvent != nullptr) {
        CloseHandle(native_->ioEvent);
        native_->ioEvent = nullptr;
    }
}

// As on POSIX: first a plain sleep for the line's own time of the missing bytes (the driver
// signals EV_RXCHAR at every piece it receives, many times a frame), then WaitCommEvent on
// EV_RXCHAR until the driver holds all the bytes wanted. The wake event ends either part.
bool SerialPort::waitForBytes(std::size_t wanted, int timeoutMs) {
    const std::size_t wantedBytes = std::max<std::size_t>(wanted, 1);
    std::unique_lock waiting(native_->waitLock);
    if (native_->closing) {
        return false;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    HANDLE ioEvent = nullptr;
    DWORD sleepMs = 0;
    {
        std::lock_guard lock(native_->lock);
        if (native_->handle == INVALID_HANDLE_VALUE) {
            return false;
        }
        handle = native_->handle;
        ioEvent = native_->ioEvent;
        std::size_t held = 0;
        if (!queued(handle, held)) {
            return false;
        }
        if (held >= wantedBytes) {
            return true;
        }
        const DWORD lineMs = native_->quiet ? 0 : lineTimeMs(native_->applied, wantedBytes - held);
        sleepMs = lineMs - lineMs / 16;
    }
    // The handle stays valid from here on: closing it needs the wait lock, which this holds.
    const HANDLE wake = static_cast<HANDLE>(idleWakeEvent());
    if (sleepMs > 0 && countedWait(wake, sleepMs) == WAIT_OBJECT_0) {
        return true;
    }
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
    std::size_t heldBefore = 0;
    DWORD pauseMs = 0;
    for (;;) {
        std::size_t held = 0;
        if (!queued(handle, held)) {
            return false;
        }
        if (held >= wantedBytes) {
            return true;
        }
        const ULONGLONG now = GetTickCount64();
        if (timeoutMs >= 0 && now >= deadline) {
            return true;
        }
        const DWORD left = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(deadline - now);
        if (pauseMs > 0) {
            // EV_RXCHAR came without a new byte: some drivers (Wine's) report it for as long as
            // the queue holds anything. Waiting on it again would spin, so the wait looks again
            // after a pause that doubles while nothing comes, up to the wait's limit.
            if (countedWait(wake, std::min(pauseMs, left)) == WAIT_OBJECT_0) {
                return true;
            }
            pauseMs = held > heldBefore ? 0 : std::min<DWORD>(pauseMs * 2, IdlePauseLimitMs);
            heldBefore = held;
            if (pauseMs > 0) {
                continue;
            }
        }
        heldBefore = held;
        if (native_->noCharacterEvents) {
            pauseMs = std::max<DWORD>(lineTimeMs(native_->applied, wantedBytes - held), 2);
            continue;
        }
        DWORD events = 0;
        DWORD ignored = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = ioEvent;
        if (WaitCommEvent(handle, &events, &overlapped)) {
            std::size_t now = 0;
            if (queued(handle, now) && now <= held) {
                pauseMs = std::max<DWORD>(lineTimeMs(native_->applied, wantedBytes - held), 2);
            }
            continue; // count again
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            if (GetLastError() == ERROR_OPERATION_ABORTED) {
                native_->noCharacterEvents = true;
                continue;
            }
            return false;
        }
        const HANDLE objects[2] = {ioEvent, wake};
        const DWORD ended = countedWait(wake != nullptr ? 2 : 1, objects, left);
        if (ended == WAIT_OBJECT_0) {
            if (!GetOverlappedResult(handle, &overlapped, &ignored, FALSE)) {
                // Not our doing: a close waits for this wait to end, and a wake ends it here
                // before the driver's result is asked for.
                if (GetLastError() == ERROR_OPERATION_ABORTED) {
                    native_->noCharacterEvents = true;
                    continue;
                }
                return false;
            }
            std::size_t now = 0;
            if (queued(handle, now) && now <= held) {
                pauseMs = std::max<DWORD>(lineTimeMs(native_->applied, wantedBytes - held), 2);
            }
            continue;
        }
        // Woken or timed out: the pending wait must end before its OVERLAPPED goes.
        CancelIo(handle);
        GetOverlappedResult(handle, &overlapped, &ignored, TRUE);
        return ended != WAIT_FAILED;
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
    const HANDLE ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (ioEvent == nullptr) {
        CloseHandle(handle);
        return nullptr;
    }
    SetCommMask(handle, EV_RXCHAR);
    auto native = std::make_unique<SerialPort::Native>();
    native->handle = handle;
    native->ioEvent = ioEvent;
    native->portName = config.portName;
    native->applied = configurePort(handle, config);
    return std::make_shared<SerialPort>(std::move(native));
}

} // namespace veltrace::link
