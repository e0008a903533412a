// Waiting for a quiet device in the system instead of looking every cycle. A silent port then
// costs no wake-ups at all; the wait ends as soon as a byte arrives, the device goes away, or
// another thread asks the reader to stop.
#pragma once

namespace veltrace::link {

// Ends every wait in progress, and the next one to begin if none is: a request made just before
// the reader starts to wait is never missed. Safe from any thread.
void wakeIdleWaits();

#ifndef _WIN32
// Waits until `fd` is readable or hung up, wakeIdleWaits() is called, or timeoutMs passes. False
// when it returned for the time-out or the wake rather than for the descriptor.
bool waitReadable(int fd, int timeoutMs);
#endif

} // namespace veltrace::link
