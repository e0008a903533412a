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

bool waitReadable(int fd, int timeoutMs) {
    const int wake = wakePipe().readEnd;
    std::array<pollfd, 2> watched{};
    watched[0] = {fd, POLLIN, 0};
    watched[1] = {wake, POLLIN, 0};
    const nfds_t count = wake >= 0 ? 2 : 1;
    int ready = 0;
    do {
        ready = poll(watched.data(), count, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return false;
    }
    if (count == 2 && watched[1].revents != 0) {
        std::array<char, 64> drained;
        while (read(wake, drained.data(), drained.size()) > 0) {
        }
    }
    return watched[0].revents != 0;
}

} // namespace veltrace::link
