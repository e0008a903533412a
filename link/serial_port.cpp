// Serial port access on POSIX termios.
//
// The program names ports COM1..COM16 as the scope's users know them; each name maps to one
// device path (VELTRACE_COM<n> first, then a fixed table), and no other name can be opened, so
// a hand-edited settings file can never make the program open an arbitrary file.
//
// The descriptor lives in portConfig.portHandle (0 = closed). The main thread may close the
// port while the acquisition thread is about to read it; both sides therefore take the port
// lock, so a descriptor is never closed under a read and a reused descriptor number can never
// be read by mistake.
#include "link/serial_port.h"

#include "toolkit/toolkit.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace veltrace::link {

namespace {

constexpr int PortCount = 16;
constexpr int ReadPiece = 256;

termios lastApplied{};

// "COM" followed by 1..16 written without leading zeros; 0 for anything else.
int comPortNumber(const std::string& portName) {
    if (portName.size() < 4 || portName.size() > 5 || portName.compare(0, 3, "COM") != 0) {
        return 0;
    }
    if (portName[3] == '0') {
        return 0;
    }
    int number = 0;
    for (std::size_t i = 3; i < portName.size(); ++i) {
        const char c = portName[i];
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number >= 1 && number <= PortCount ? number : 0;
}

std::string fixedDevicePath(int number) {
    if (number <= 4) {
        return "/dev/ttyS" + std::to_string(number - 1);
    }
    if (number <= 12) {
        return "/dev/ttyUSB" + std::to_string(number - 5);
    }
    return "/dev/ttyACM" + std::to_string(number - 13);
}

speed_t speedFor(std::uint32_t baudRate) {
    switch (baudRate) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B19200;
    }
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

// Raw mode built from the line settings: no line editing, no translation, no echo, no signals,
// and reads that deliver every byte as it comes. VMIN 1 matters: with VMIN 0 a non-blocking read
// of an empty port returns 0 instead of EAGAIN, which looks like end of file.
termios buildTermios(termios t, const app::LineSettings& line) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= sizeFor(line.byteSize) | CLOCAL | CREAD;
    // Parity codes as the device-control record counts them: 1 odd, 2 even.
    if (line.parity == 1 || line.parity == 2) {
        t.c_cflag |= PARENB;
        if (line.parity == 1) {
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

// Configuration failures are silent: a port that opened counts as open even if the line could
// not be set up (a pseudo-terminal refuses the modem lines, a plain file refuses everything).
void configurePort(int fd, const app::LineSettings& line) {
    termios current{};
    if (tcgetattr(fd, &current) != 0) {
        return;
    }
    const termios wanted = buildTermios(current, line);
    if (tcsetattr(fd, TCSANOW, &wanted) == 0) {
        lastApplied = wanted;
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
}

// Opens for our own exclusive use: TIOCEXCL keeps other ordinary users out, the flock keeps out
// another Veltrace even when it runs as root (root ignores TIOCEXCL). -1 on failure.
int openExclusive(const std::string& path) {
    if (path.empty()) {
        return -1;
    }
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (fd == 0) {
        // Descriptor 0 means "closed" in the port record.
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        if (moved < 0) {
            return -1;
        }
        fd = moved;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return -1;
    }
    ioctl(fd, TIOCEXCL);
    return fd;
}

} // namespace

std::recursive_mutex& portLock() {
    static std::recursive_mutex lock;
    return lock;
}

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
    // The open succeeds for root even on a port another program holds; another Veltrace shows
    // itself through its lock.
    PortPresence presence = PortPresence::Free;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        presence = PortPresence::Busy;
    }
    close(fd);
    return presence;
}

void probePorts() {
    std::array<std::string, app::PortNameSlots> names;
    int count = 0;
    for (int n = 1; n <= PortCount; ++n) {
        const std::string name = "COM" + std::to_string(n);
        if (portPresence(comDevicePath(name)) != PortPresence::Missing) {
            names[count++] = name;
        }
    }
    std::lock_guard<std::recursive_mutex> guard(app::scopeLock());
    app::scope.comPortNames = names;
    app::scope.comPortCount = static_cast<std::uint8_t>(count);
}

int openPort(app::PortConfig& portConfig) {
    int fd = -1;
    {
        std::lock_guard<std::recursive_mutex> guard(portLock());
        // A record that still holds a descriptor would leak it together with its lock, and the
        // port could then never be opened again by this process.
        if (portConfig.portHandle != 0) {
            close(portConfig.portHandle);
        }
        portConfig.portHandle = 0;
        fd = openExclusive(comDevicePath(portConfig.portName));
        if (fd > 0) {
            configurePort(fd, portConfig.lineSettings);
            portConfig.portHandle = fd;
        }
    }
    if (fd <= 0) {
        // Shown without the port lock: the box waits for the user.
        toolkit::messageBox("info",
                            "Com Port " + portConfig.portName +
                                " not available or busy. Use 'File'/'COM Port' on the menu to "
                                "setup your ports.",
                            toolkit::MessageBoxOkExclamation);
        return 0;
    }
    return fd;
}

int readPort(app::PortConfig& portConfig) {
    std::lock_guard<std::recursive_mutex> guard(portLock());
    if (portConfig.portHandle == 0) {
        return 0;
    }
    int total = 0;
    while (total < app::RxBufferSize) {
        const int want = std::min(ReadPiece, app::RxBufferSize - total);
        const ssize_t got = read(portConfig.portHandle, portConfig.rxBuffer.data() + total,
                                 static_cast<std::size_t>(want));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // EAGAIN is an empty port; 0 (the other side of a pseudo-terminal closed) and every
        // other error count as nothing too; the thread's pause keeps that from spinning.
        if (got <= 0) {
            break;
        }
        total += static_cast<int>(got);
    }
    // Nothing received is ever discarded: no input flush here or anywhere else.
    portConfig.rxCount = total;
    return total;
}

int closePort(app::PortConfig& portConfig) {
    std::lock_guard<std::recursive_mutex> guard(portLock());
    if (portConfig.portHandle != 0) {
        close(portConfig.portHandle);
        portConfig.portHandle = 0;
    }
    return 0;
}

termios lastAppliedTermios() {
    std::lock_guard<std::recursive_mutex> guard(portLock());
    return lastApplied;
}

void clearLineErrors(app::PortConfig&) {
    // Nothing latches on termios: with parity checking off and no PARMRK, framing errors and
    // breaks arrive as ordinary (zero) bytes and the next read simply goes on. The decoder's
    // resynchronisation copes with such bytes, so there is no error state to clear.
}

} // namespace veltrace::link
