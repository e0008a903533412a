// Pauses on POSIX.
#include "toolkit/toolkit.h"

#include <cerrno>
#include <ctime>

namespace veltrace::toolkit {

// Sleeps until an absolute point of the monotonic clock, so a signal that interrupts the sleep
// only resumes it and never shortens or lengthens the whole pause.
void pause(int milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    timespec wakeUp{};
    clock_gettime(CLOCK_MONOTONIC, &wakeUp);
    wakeUp.tv_sec += milliseconds / 1000;
    wakeUp.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (wakeUp.tv_nsec >= 1000000000L) {
        wakeUp.tv_nsec -= 1000000000L;
        ++wakeUp.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wakeUp, nullptr) == EINTR) {
    }
}

} // namespace veltrace::toolkit
