// The Linux end of a serial line for a Windows test program under Wine. Built for the machine
// that runs Wine (scripts/build-windows.sh builds it with the host compiler).
//
//   pty-far-side LINK COMMAND [ARGS...]
//
// Makes a pseudo-terminal, points the symbolic link LINK at its terminal end (the registry maps
// a COM name to LINK), and runs COMMAND with pipes on its standard input and output. Lines the
// program prints are passed on, except requests of the form "@far REQUEST", which are answered
// with one line on its standard input:
//   settings    what the line is set to, seen from here: "speed=19200 csize=7 parenb=0 ..."
//   send HEX    writes those bytes to the line; answers "sent N"
//   hangup      the far side goes away (the pseudo-terminal's controlling end is closed);
//               answers "gone"
// Ends with COMMAND's exit status.
#include <fcntl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int master = -1;
int terminal = -1; // our own descriptor of the terminal end, for reading its settings

long speedOf(speed_t speed) {
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return -1;
    }
}

std::string settings() {
    termios line{};
    if (terminal < 0 || tcgetattr(terminal, &line) != 0) {
        return std::string("error=") + std::strerror(errno);
    }
    const auto flag = [](tcflag_t set, tcflag_t bit) { return (set & bit) != 0 ? 1 : 0; };
    int csize = 8;
    switch (line.c_cflag & CSIZE) {
    case CS5:
        csize = 5;
        break;
    case CS6:
        csize = 6;
        break;
    case CS7:
        csize = 7;
        break;
    default:
        break;
    }
    char text[256];
    std::snprintf(text, sizeof text,
                  "speed=%ld csize=%d parenb=%d cstopb=%d crtscts=%d ixon=%d ixoff=%d icanon=%d "
                  "echo=%d isig=%d icrnl=%d opost=%d",
                  speedOf(cfgetispeed(&line)), csize, flag(line.c_cflag, PARENB),
                  flag(line.c_cflag, CSTOPB), flag(line.c_cflag, CRTSCTS), flag(line.c_iflag, IXON),
                  flag(line.c_iflag, IXOFF), flag(line.c_lflag, ICANON), flag(line.c_lflag, ECHO),
                  flag(line.c_lflag, ISIG), flag(line.c_iflag, ICRNL), flag(line.c_oflag, OPOST));
    return text;
}

std::string send(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    std::size_t done = 0;
    while (master >= 0 && done < bytes.size()) {
        const ssize_t written = ::write(master, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                usleep(1000);
                continue;
            }
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    return "sent " + std::to_string(done);
}

std::string answer(const std::string& request) {
    if (request == "settings") {
        return settings();
    }
    if (request.rfind("send ", 0) == 0) {
        return send(request.substr(5));
    }
    if (request == "hangup") {
        ::close(master);
        ::close(terminal);
        master = terminal = -1;
        return "gone";
    }
    return "unknown request";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: pty-far-side LINK COMMAND [ARGS...]\n");
        return 2;
    }
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pty-far-side: pseudo-terminal");
        return 2;
    }
    const std::string terminalPath = ptsname(master);
    terminal = ::open(terminalPath.c_str(), O_RDWR | O_NOCTTY);
    // A speed the program does not use, so the one seen later can only be the program's.
    termios line{};
    if (terminal < 0 || tcgetattr(terminal, &line) != 0 || cfsetspeed(&line, B9600) != 0 ||
        tcsetattr(terminal, TCSANOW, &line) != 0) {
        std::perror("pty-far-side: terminal end");
        return 2;
    }
    ::unlink(argv[1]);
    if (::symlink(terminalPath.c_str(), argv[1]) != 0) {
        std::perror("pty-far-side: link");
        return 2;
    }

    int toChild[2];
    int fromChild[2];
    if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) {
        std::perror("pty-far-side: pipe");
        return 2;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(toChild[0], 0);
        ::dup2(fromChild[1], 1);
        ::close(toChild[0]);
        ::close(toChild[1]);
        ::close(fromChild[0]);
        ::close(fromChild[1]);
        ::close(master);
        ::close(terminal);
        ::execvp(argv[2], argv + 2);
        std::perror("pty-far-side: exec");
        _exit(127);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    FILE* output = ::fdopen(fromChild[0], "r");
    char* text = nullptr;
    std::size_t capacity = 0;
    ssize_t length;
    while ((length = ::getline(&text, &capacity, output)) >= 0) {
        std::string lineText(text, static_cast<std::size_t>(length));
        while (!lineText.empty() && (lineText.back() == '\n' || lineText.back() == '\r')) {
            lineText.pop_back();
        }
        if (lineText.rfind("@far ", 0) == 0) {
            const std::string reply = answer(lineText.substr(5)) + "\n";
            [[maybe_unused]] const ssize_t written =
                ::write(toChild[1], reply.data(), reply.size());
        } else {
            std::printf("%s\n", lineText.c_str());
            std::fflush(stdout);
        }
    }
    std::free(text);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::unlink(argv[1]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
