// A companion of scripts/measure-wait-windows.sh on the Linux side: stamps each line read from
// standard input, as soon as the read that brought it returns, with CLOCK_MONOTONIC and
// CLOCK_MONOTONIC_RAW, and prints "MONOTONIC_NS RAW_NS LINE". Fed by veltrace-wine-helper.exe's
// clock lines, the smallest difference between a stamp and the line's own time tells which
// host clock the Windows program's steady clock runs on, and how far apart they stand.
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

long long ns(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

} // namespace

int main() {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        const long long monotonic = ns(CLOCK_MONOTONIC);
        const long long raw = ns(CLOCK_MONOTONIC_RAW);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        pending.append(buffer, static_cast<std::size_t>(got));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos;
             pending.erase(0, end + 1)) {
            std::string line = pending.substr(0, end);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back(); // a Windows program's text mode
            }
            std::printf("%lld %lld %s\n", monotonic, raw, line.c_str());
        }
    }
    return 0;
}
