// Pauses on Windows. The system timer ticks every 15.6 ms by default, so a 10 ms Sleep would
// last 15.6 ms: the resolution is raised to 1 ms for the length of the pause. MinGW's
// clock_nanosleep with an absolute time fails at once and std::this_thread::sleep_for turns
// short waits into Sleep(0), so the pause sleeps with Sleep itself, in whole milliseconds,
// until the performance counter says the time is up.
#include "toolkit/toolkit.h"

#include <windows.h>

#include <timeapi.h>

namespace veltrace::toolkit {

void pause(int milliseconds) {
    if (milliseconds <= 0) {
        return;
    }
    LARGE_INTEGER frequency{};
    LARGE_INTEGER now{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    const long long end = now.QuadPart + frequency.QuadPart * milliseconds / 1000;
    const bool raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    for (;;) {
        QueryPerformanceCounter(&now);
        const long long left = end - now.QuadPart;
        if (left <= 0) {
            break;
        }
        // Rounded up, so the last step never becomes Sleep(0) and spins.
        const long long wait = (left * 1000 + frequency.QuadPart - 1) / frequency.QuadPart;
        Sleep(static_cast<DWORD>(wait));
    }
    if (raised) {
        timeEndPeriod(1);
    }
}

} // namespace veltrace::toolkit
