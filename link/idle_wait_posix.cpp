// The wake of the idle wait: a pipe whose read end every wait polls beside its descriptor. A wake
// leaves a byte in it until a wait takes it, so a wake is never lost between a reader's last
// look at its stop flag and the start of its wait; at worst a stale byte ends one later wait
// early, which costs a single extra cycle.
#include "link/idle_wait.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace veltrace::link {

namespace {

struct WakePipe {
    int readEnd = -1;
    int writeEnd = -1;
};

WakePipe& wakePipe() {
    static WakePipe pipeEnds = [] {
        WakePipe made;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            made.readEnd = ends[0];
            made.writeEnd = ends[1];
        }
        return made;
    }();
    return pipeEnds;
}

} // namespace

void wakeIdleWaits() {
    const int end = wakePipe().writeEnd;
    if (end >= 0) {
        const char byte = 1;
        // A full pipe already holds a wake; nothing is lost when this write is refused.
        [[maybe_unused]] const ssize_t written = write(end, &byte, 1);
    }
}

namespace {

// Takes every wake out of the pipe: the one that ended this wait, and any stale one before it.
void drainWakes(int wake) {
    std::array<char, 64> drained;
    while (read(wake, drained.data(), drained.size()) > 0) {
    }
}

} // namespace

WaitEnd waitReadable(int fd, int timeoutMs) {
    const int wake = wakePipe().readEnd;
    std::array<pollfd, 2> watched{};
    watched[0] = {fd, POLLIN, 0};
    watched[1] = {wake, POLLIN, 0};
    const nfds_t count = wake >= 0 ? 2 : 1;
    int ready = 0;
    do {
        ready = poll(watched.data(), count, timeoutMs);
        countWaitReturn();
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return WaitEnd::Quiet;
    }
    if (count == 2 && watched[1].revents != 0) {
        drainWakes(wake);
    }
    // A hung-up line reports itself readable too (a read returns its end at once).
    if ((watched[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
        return WaitEnd::HungUp;
    }
    if ((watched[0].revents & POLLIN) != 0) {
        return WaitEnd::Readable;
    }
    return WaitEnd::Quiet;
}

bool sleepUnlessWoken(long microseconds) {
    const int wake = wakePipe().readEnd;
    if (microseconds <= 0) {
        return false;
    }
    timespec left{microseconds / 1000000, (microseconds % 1000000) * 1000};
    pollfd watched{wake, POLLIN, 0};
    // Without a pipe there is nothing to wake the sleep; it still ends on time.
    const nfds_t count = wake >= 0 ? 1 : 0;
    int ready = 0;
    do {
        ready = ppoll(&watched, count, &left, nullptr);
        countWaitReturn();
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    drainWakes(wake);
    return true;
}

} // namespace veltrace::link
