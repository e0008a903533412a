// Waiting for a quiet device in the system instead of looking every cycle. A silent port then
// costs no wake-ups at all; the wait ends as soon as a byte arrives, the device goes away, or
// another thread asks the reader to stop.
#pragma once

#include <cstdint>

namespace veltrace::link {

// Returns from the system waits of a port's wait for bytes, counted by the waits themselves:
// beside the wake-ups the system counts for the reading thread, they tell the program's own
// wake-ups from those its platform adds (under Wine every call into its server is one more).
void countWaitReturn();
std::uint64_t waitReturns();

// Ends every wait in progress, and the next one to begin if none is: a request made just before
// the reader starts to wait is never missed. Safe from any thread.
void wakeIdleWaits();

#ifdef _WIN32
// The event that wakeIdleWaits() sets (an auto-reset event, a HANDLE): a wait includes it among
// the objects it waits for, and taking it resets it.
void* idleWakeEvent();
#else
// How a wait on a descriptor ended.
enum class WaitEnd {
    Readable, // the descriptor has what its read settings ask for
    HungUp,   // the far side hung up, or the descriptor failed: reading cannot wait any more
    Quiet,    // the time-out passed, or wakeIdleWaits() was called
};
// Waits until `fd` is readable or hung up, wakeIdleWaits() is called, or timeoutMs passes
// (-1: no limit).
WaitEnd waitReadable(int fd, int timeoutMs);
// Sleeps `microseconds` unless wakeIdleWaits() is called first; true when it was woken.
bool sleepUnlessWoken(long microseconds);
#endif

} // namespace veltrace::link
