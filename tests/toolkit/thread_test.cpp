#include "toolkit/core_internal.h"
#include "toolkit/toolkit.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace veltrace::toolkit;

namespace {

// What a worker saw; lives in static storage so a detached worker never outlives it.
struct Worker {
    std::atomic<bool> release{false}; // lets a waiting worker return
    std::atomic<int> sawStop{-1};     // threadStopRequested() when it returned
    std::atomic<bool> done{false};
};

int waitForStopOrRelease(void* argument) {
    auto& worker = *static_cast<Worker*>(argument);
    while (!threadStopRequested() && !worker.release) {
        pause(1);
    }
    worker.sawStop = threadStopRequested() ? 1 : 0;
    worker.done = true;
    return 0;
}

// A bounded wait, so a worker that never sees its token fails the test instead of hanging it.
bool waitUntil(const std::atomic<bool>& flag) {
    for (int i = 0; i < 30000 && !flag; ++i) {
        pause(1);
    }
    return flag;
}

class ThreadedToolkit : public testing::Test {
  protected:
    void SetUp() override { detail::threadsForgetAll(); }
    void TearDown() override { detail::threadsForgetAll(); }
};

} // namespace

TEST_F(ThreadedToolkit, NumbersCountUpFromOneAndEndedThreadsAreOnlyForgotten) {
    static Worker first, second;
    EXPECT_EQ(threadStart(waitForStopOrRelease, &first), 1);
    EXPECT_EQ(threadStart(waitForStopOrRelease, &second), 2);
    EXPECT_EQ(threadRunning(1), 1);
    first.release = true;
    ASSERT_TRUE(waitUntil(first.done));
    while (threadRunning(1)) { // returned, but its record may still say running for a moment
        pause(1);
    }
    threadKill(1);
    threadKill(77);
    EXPECT_EQ(first.sawStop, 0);
    EXPECT_EQ(threadRunning(2), 1) << "killing thread 1 must not touch thread 2";
    second.release = true;
    ASSERT_TRUE(waitUntil(second.done));
    EXPECT_EQ(second.sawStop, 0);
}

TEST_F(ThreadedToolkit, KillSetsTheRunningThreadsOwnStopToken) {
    static Worker victim, bystander;
    const int victimNumber = threadStart(waitForStopOrRelease, &victim);
    const int bystanderNumber = threadStart(waitForStopOrRelease, &bystander);
    ASSERT_NE(victimNumber, 0);
    threadKill(victimNumber);
    EXPECT_EQ(threadRunning(victimNumber), 0); // forgotten at once
    ASSERT_TRUE(waitUntil(victim.done));
    EXPECT_EQ(victim.sawStop, 1);
    EXPECT_EQ(threadRunning(bystanderNumber), 1);
    EXPECT_FALSE(bystander.done);
    bystander.release = true;
    ASSERT_TRUE(waitUntil(bystander.done));
    EXPECT_EQ(bystander.sawStop, 0);
    EXPECT_FALSE(threadStopRequested()) << "the main thread has no stop token";
}

TEST_F(ThreadedToolkit, ForgetAllLeavesThreadsRunningAndRestartsNumbering) {
    static Worker worker;
    ASSERT_EQ(threadStart(waitForStopOrRelease, &worker), 1);
    detail::threadsForgetAll();
    EXPECT_EQ(threadRunning(1), 0);
    EXPECT_FALSE(worker.done);
    worker.release = true;
    ASSERT_TRUE(waitUntil(worker.done));
    EXPECT_EQ(worker.sawStop, 0);
    static Worker next;
    next.release = true;
    EXPECT_EQ(threadStart(waitForStopOrRelease, &next), 1);
    ASSERT_TRUE(waitUntil(next.done));
}
