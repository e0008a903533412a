// Where the acquisition thread gets its bytes from: the serial port, a recording, or memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace veltrace::link {

struct ReadResult {
    std::size_t count = 0;   // bytes placed at the start of the buffer
    bool deviceLost = false; // the device has gone away (unplugged, far side hung up)
};

// A source of device bytes. readAvailable never waits: it takes what has arrived, up to the
// buffer's size, and leaves the rest for the next call. Implementations are safe to close from
// another thread while one thread reads.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    virtual ReadResult readAvailable(std::span<std::uint8_t> buffer) = 0;
    // Clears a line error condition so reading goes on after it; harmless when there is none.
    virtual void clearErrors() {}
    // After close, reads return nothing. Closing twice is harmless.
    virtual void close() = 0;
    // Waits in the system until a read may find bytes or the loss of the device, at most
    // timeoutMs; wakeIdleWaits() ends the wait early. A source that cannot wait returns false at
    // once and its reader keeps to its own pace. Closing the source from another thread ends the
    // wait too.
    virtual bool waitForBytes(int timeoutMs) {
        (void)timeoutMs;
        return false;
    }
};

} // namespace veltrace::link
