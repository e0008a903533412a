// A pause never ends early: MinGW's absolute-time clock_nanosleep fails at once and its
// sub-millisecond sleeps become Sleep(0), either of which would make the acquisition thread spin
// instead of pacing itself. Only lower bounds are checked; how much longer a pause lasts on a
// busy machine is not a test's business.
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

TEST(Pause, LastsAtLeastItsLength) {
    for (int milliseconds : {1, 10, 20}) {
        const Clock::time_point start = Clock::now();
        veltrace::toolkit::pause(milliseconds);
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(milliseconds)) << milliseconds;
    }
}

TEST(Pause, ShortPausesAddUp) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < 20; ++i) {
        veltrace::toolkit::pause(1);
    }
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
}

TEST(Pause, NothingForZeroOrLess) {
    const Clock::time_point start = Clock::now();
    veltrace::toolkit::pause(0);
    veltrace::toolkit::pause(-5);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

} // namespace
