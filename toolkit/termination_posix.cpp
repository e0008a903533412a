// Requests from the system to end the program (SIGTERM, SIGINT, SIGHUP) on POSIX. The handler
// only sets a flag and writes one byte into a pipe, both safe inside a signal handler; the
// window backend watches the pipe, so the program's event wait wakes up and reports the request.
#include "toolkit/termination.h"
#include "toolkit/toolkit.h"

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace veltrace::toolkit {

namespace {

std::atomic<bool> requested{false};
int pipeEnds[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
    requested = true;
    if (pipeEnds[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    }
}

} // namespace

void catchTerminationRequests() {
    if (pipeEnds[0] < 0 && ::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipeEnds[0] = pipeEnds[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(signal, &action, nullptr);
    }
}

bool terminationRequested() {
    return requested.load();
}

namespace detail {

int terminationWakeDescriptor() {
    return pipeEnds[0];
}

void terminationWakeDrain() {
    char buffer[64];
    if (pipeEnds[0] >= 0) {
        while (::read(pipeEnds[0], buffer, sizeof buffer) > 0) {
        }
    }
}

} // namespace detail

} // namespace veltrace::toolkit
