// Serial ports on POSIX termios.
#include "link/serial_port.h"

#include "link/arrival_plan.h"
#include "link/idle_wait.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace veltrace::link {

struct SerialPort::Native {
    mutable std::mutex lock; // guards fd: a close never happens under a read
    int fd = -1;
    std::string portName;
    AppliedLineSettings applied;
    // The last read found nothing: the device is silent, not in the middle of a frame, so a
    // wait has no line time to sleep through first.
    bool quiet = false;
    cc_t readMinimum = 1;        // VMIN as last set: a wait changes it only when it has to
    std::uint64_t readTotal = 0; // bytes read since the port opened: the plan counts in these
    ArrivalPlan plan;            // when the pieces of the line arrive
};

namespace {

constexpr std::size_t ReadPiece = 256;

std::string fixedDevicePath(int number) {
    if (number <= 4) {
        return "/dev/ttyS" + std::to_string(number - 1);
    }
    if (number <= 12) {
        return "/dev/ttyUSB" + std::to_string(number - 5);
    }
    return "/dev/ttyACM" + std::to_string(number - 13);
}

struct SpeedRow {
    std::uint32_t baud;
    speed_t speed;
};
constexpr std::array<SpeedRow, 8> speeds = {{{1200, B1200},
                                             {2400, B2400},
                                             {4800, B4800},
                                             {9600, B9600},
                                             {19200, B19200},
                                             {38400, B38400},
                                             {57600, B57600},
                                             {115200, B115200}}};

speed_t speedFor(std::uint32_t baudRate) {
    for (const SpeedRow& row : speeds) {
        if (row.baud == baudRate) {
            return row.speed;
        }
    }
    return B19200;
}

std::uint32_t baudOf(speed_t speed) {
    for (const SpeedRow& row : speeds) {
        if (row.speed == speed) {
            return row.baud;
        }
    }
    return 0;
}

tcflag_t sizeFor(std::uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 8:
        return CS8;
    default:
        return CS7;
    }
}

int bitsOf(tcflag_t size) {
    switch (size) {
    case CS5:
        return 5;
    case CS6:
        return 6;
    case CS7:
        return 7;
    default:
        return 8;
    }
}

// Raw mode built from the line settings: no line editing, no translation, no echo, no signals,
// and reads that deliver every byte as it comes. VMIN 1 matters: with VMIN 0 a non-blocking read
// of an empty port returns 0 instead of EAGAIN, which looks like end of file.
termios buildTermios(termios t, const LineSettings& line) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= sizeFor(line.byteSize) | CLOCAL | CREAD;
    if (line.parity == Parity::Odd || line.parity == Parity::Even) {
        t.c_cflag |= PARENB;
        if (line.parity == Parity::Odd) {
            t.c_cflag |= PARODD;
        }
    }
    if (line.stopBits == 2) {
        t.c_cflag |= CSTOPB;
    }
    if (line.parityCheck) {
        t.c_iflag |= INPCK;
    }
    if (line.hardwareFlowControl) {
        t.c_cflag |= CRTSCTS;
    }
    if (line.softwareFlowControl) {
        t.c_iflag |= IXON | IXOFF;
    }
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speedFor(line.baudRate));
    cfsetospeed(&t, speedFor(line.baudRate));
    return t;
}

AppliedLineSettings describe(const termios& t) {
    AppliedLineSettings applied;
    applied.applied = true;
    const std::uint32_t in = baudOf(cfgetispeed(&t));
    applied.baudRate = in == baudOf(cfgetospeed(&t)) ? in : 0;
    applied.dataBits = bitsOf(t.c_cflag & CSIZE);
    if ((t.c_cflag & PARENB) != 0) {
        applied.parity = (t.c_cflag & PARODD) != 0 ? Parity::Odd : Parity::Even;
    }
    applied.stopBits = (t.c_cflag & CSTOPB) != 0 ? 2 : 1;
    applied.parityCheck = (t.c_iflag & INPCK) != 0;
    applied.hardwareFlowControl = (t.c_cflag & CRTSCTS) != 0;
    applied.softwareFlowControl = (t.c_iflag & (IXON | IXOFF | IXANY)) != 0;
    applied.raw = (t.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL | PARMRK)) == 0 &&
                  (t.c_oflag & OPOST) == 0 &&
                  (t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)) == 0;
    applied.receiverOn = (t.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD);
    applied.immediateReads = t.c_cc[VMIN] == 1 && t.c_cc[VTIME] == 0;
    return applied;
}

// Configuration failures are silent: a port that opened counts as open even if the line could
// not be set up (a pseudo-terminal refuses the modem lines, a plain file refuses everything).
AppliedLineSettings configurePort(int fd, const LineSettings& line) {
    AppliedLineSettings applied;
    termios current{};
    if (tcgetattr(fd, &current) != 0) {
        return applied;
    }
    const termios wanted = buildTermios(current, line);
    if (tcsetattr(fd, TCSANOW, &wanted) == 0) {
        applied = describe(wanted);
    }
    int clearBits = 0;
    int setBits = 0;
    (line.dtrOn ? setBits : clearBits) |= TIOCM_DTR;
    (line.rtsOn ? setBits : clearBits) |= TIOCM_RTS;
    if (clearBits != 0) {
        ioctl(fd, TIOCMBIC, &clearBits);
    }
    if (setBits != 0) {
        ioctl(fd, TIOCMBIS, &setBits);
    }
    return applied;
}

// True when another holder of the device asked for exclusive use (TIOCEXCL). Root's open
// succeeds in spite of it, so root learns of it only by asking.
bool heldExclusively(int fd) {
#ifdef TIOCGEXCL
    int exclusive = 0;
    return ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
    (void)fd;
    return false;
#endif
}

// Opens for our own exclusive use: TIOCEXCL keeps other ordinary users out, the flock keeps out
// another Veltrace even when it runs as root (root ignores TIOCEXCL, so it asks). -1 on failure.
int openExclusive(const std::string& path) {
    if (path.empty()) {
        return -1;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (heldExclusively(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

// The errors with which a read says that the device itself is gone: the adapter was pulled, or
// the far side of the line hung up.
bool meansDeviceLost(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

// The largest VMIN termios can hold; a frame's rest is always less.
constexpr std::size_t MaxReadMinimum = 255;

// VMIN decides when poll reports the port readable (non-blocking reads still return whatever is
// there). Only set when it changes, since some drivers reprogram the line on every
// configuration call. With the port's lock held.
void setReadMinimum(SerialPort::Native& native, std::size_t bytes) {
    const auto wanted = static_cast<cc_t>(std::clamp<std::size_t>(bytes, 1, MaxReadMinimum));
    if (wanted == native.readMinimum) {
        return;
    }
    termios t{};
    if (tcgetattr(native.fd, &t) != 0) {
        return;
    }
    t.c_cc[VMIN] = wanted;
    if (tcsetattr(native.fd, TCSANOW, &t) == 0) {
        native.readMinimum = wanted;
    }
}

// The line's time per character in microseconds, 0 when its speed is not known.
double characterMicros(const AppliedLineSettings& line) {
    if (!line.applied || line.baudRate == 0) {
        return 0;
    }
    const double bits = 1 + line.dataBits + (line.parity == Parity::None ? 0 : 1) + line.stopBits;
    return bits * 1e6 / static_cast<double>(line.baudRate);
}

std::int64_t monotonicMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What the driver holds; -1 when it cannot be asked.
int heldBytes(int fd) {
    int pending = 0;
    return ioctl(fd, FIONREAD, &pending) == 0 ? pending : -1;
}

} // namespace

std::string comDevicePath(const std::string& portName) {
    const int number = comPortNumber(portName);
    if (number == 0) {
        return "";
    }
    const std::string variable = "VELTRACE_COM" + std::to_string(number);
    const char* overridden = std::getenv(variable.c_str());
    if (overridden != nullptr && overridden[0] != '\0') {
        return overridden;
    }
    return fixedDevicePath(number);
}

PortPresence portPresence(const std::string& devicePath) {
    if (devicePath.empty()) {
        return PortPresence::Missing;
    }
    const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EBUSY) {
            return PortPresence::Busy;
        }
        if (errno == EACCES || errno == EPERM) {
            return PortPresence::NoAccess;
        }
        return PortPresence::Missing;
    }
    // The open succeeds for root even on a port another program holds; such a program shows
    // itself through the exclusive mode it asked for, another Veltrace also through its lock.
    PortPresence presence = PortPresence::Free;
    if (heldExclusively(fd) || (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)) {
        presence = PortPresence::Busy;
    }
    close(fd);
    return presence;
}

SerialPort::SerialPort(std::unique_ptr<Native> native) : native_(std::move(native)) {}

SerialPort::~SerialPort() {
    close();
}

ReadResult SerialPort::readAvailable(std::span<std::uint8_t> buffer) {
    std::lock_guard lock(native_->lock);
    ReadResult result;
    if (native_->fd < 0) {
        return result;
    }
    while (result.count < buffer.size()) {
        const std::size_t want = std::min(ReadPiece, buffer.size() - result.count);
        const ssize_t got = read(native_->fd, buffer.data() + result.count, want);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0 || (got < 0 && meansDeviceLost(errno))) {
            // End of file: the far side of a pseudo-terminal closed, or a line hung up.
            result.deviceLost = true;
            break;
        }
        // EAGAIN is an empty port; any other error counts as nothing too, and the caller's pause
        // keeps that from spinning.
        if (got < 0) {
            break;
        }
        result.count += static_cast<std::size_t>(got);
    }
    native_->quiet = result.count == 0;
    native_->readTotal += result.count;
    return result;
}

// Nothing latches on termios: with parity checking off and no PARMRK, framing errors and breaks
// arrive as ordinary (zero) bytes and the next read simply goes on. The decoder's
// resynchronisation copes with such bytes, so there is no error state to clear.
void SerialPort::clearErrors() {}

void SerialPort::close() {
    std::lock_guard lock(native_->lock);
    if (native_->fd >= 0) {
        // A pseudo-terminal keeps the exclusive mode after its last reader closes (its master
        // keeps it alive), which would shut everybody else out of it for good.
        ioctl(native_->fd, TIOCNXCL);
        ::close(native_->fd);
        native_->fd = -1;
        // A reader waiting on its own copy of the descriptor would not notice.
        wakeIdleWaits();
    }
}

// The wait for a frame's rest has two parts. First a plain sleep until the plan expects the
// piece that brings the frame's last byte (the driver wakes a reader in poll at every piece it
// receives, which is many times a frame; during the sleep they wake nobody). Then, if the frame
// is not complete by then, a watch: poll with VMIN set one above what the driver holds, so it
// ends at each piece as it arrives, which tells the plan the pieces' true times, and ends for
// good with the piece that brings the last byte. Either way the frame is read as soon as its
// last byte is in, give or take the plan's margin.
bool SerialPort::waitForBytes(std::size_t wanted, int timeoutMs) {
    const std::size_t wantedBytes = std::clamp<std::size_t>(wanted, 1, MaxReadMinimum);
    int watched = -1;
    std::int64_t now = monotonicMicros();
    std::int64_t lookAt = now;
    {
        std::lock_guard lock(native_->lock);
        if (native_->fd < 0) {
            return false;
        }
        const int held = heldBytes(native_->fd);
        if (held >= 0 && static_cast<std::size_t>(held) >= wantedBytes) {
            return true; // already there: the next read takes them
        }
        Native& native = *native_;
        native.plan.setCharacterTime(characterMicros(native.applied));
        if (native.quiet) {
            // A silent device: nothing to predict, and what was learned is old by now.
            native.plan.forget();
        } else {
            const std::uint64_t have =
                native.readTotal + static_cast<std::uint64_t>(std::max(held, 0));
            lookAt = native.plan.lookAt(now, have, native.readTotal + wantedBytes);
        }
        // Our own descriptor of the port, so a close on another thread meanwhile can neither
        // pull it away nor let its number be reused under the wait. It shares the open file and
        // so its lock: the port is free again once the wait ends, which the close brings about
        // at once by waking it.
        watched = fcntl(native.fd, F_DUPFD_CLOEXEC, 0);
    }
    if (watched < 0) {
        return false;
    }
    if (sleepUnlessWoken(static_cast<long>(lookAt - now))) {
        ::close(watched);
        return true;
    }
    // A negative time-out waits without a limit.
    const std::int64_t deadline = monotonicMicros() + std::int64_t{timeoutMs} * 1000;
    bool looked = false;
    bool following = false;
    bool pieceArrived = false;
    for (;;) {
        now = monotonicMicros();
        std::size_t held = 0;
        {
            std::lock_guard lock(native_->lock);
            if (native_->fd < 0) {
                // Closed meanwhile: the close woke this wait.
                ::close(watched);
                return true;
            }
            const int count = heldBytes(watched);
            held = static_cast<std::size_t>(std::max(count, 0));
            const std::uint64_t total = native_->readTotal + held;
            const bool complete = held >= wantedBytes;
            if (!looked) {
                native_->plan.looked(complete, total);
                looked = true;
            } else if (pieceArrived) {
                native_->plan.pieceArrived(now, total, following);
                following = true;
            }
            if (complete || count < 0) {
                // A line that cannot be asked any more has hung up: saying so lets the reader
                // keep its pace instead of spinning on it.
                ::close(watched);
                return count >= 0;
            }
            // VMIN counts what the driver holds: one more than now ends the poll at the next
            // piece.
            setReadMinimum(*native_, held + 1);
        }
        const std::int64_t left = deadline - now;
        if (timeoutMs >= 0 && left <= 0) {
            ::close(watched);
            return true;
        }
        const WaitEnd end =
            waitReadable(watched, timeoutMs < 0 ? -1 : static_cast<int>((left + 999) / 1000));
        if (end == WaitEnd::HungUp) {
            ::close(watched);
            return false;
        }
        if (end == WaitEnd::Quiet) {
            // Woken, or the device fell silent in the middle of a frame: either way the
            // reader looks again now; a silent device's next wait has no line time to sleep.
            ::close(watched);
            return true;
        }
        pieceArrived = true;
    }
}

bool SerialPort::isOpen() const {
    std::lock_guard lock(native_->lock);
    return native_->fd >= 0;
}

const std::string& SerialPort::portName() const {
    return native_->portName;
}

AppliedLineSettings SerialPort::appliedLineSettings() const {
    return native_->applied;
}

int SerialPort::pendingBytes() const {
    std::lock_guard lock(native_->lock);
    int pending = 0;
    if (native_->fd < 0 || ioctl(native_->fd, FIONREAD, &pending) != 0) {
        return -1;
    }
    return pending;
}

std::shared_ptr<SerialPort> openPort(const PortConfig& config) {
    const int fd = openExclusive(comDevicePath(config.portName));
    if (fd < 0) {
        return nullptr;
    }
    auto native = std::make_unique<SerialPort::Native>();
    native->fd = fd;
    native->portName = config.portName;
    native->applied = configurePort(fd, config.lineSettings);
    return std::make_shared<SerialPort>(std::move(native));
}

} // namespace veltrace::link
