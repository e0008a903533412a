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
    // Waits in the system until a read may find `wanted` bytes (at least one; a source that
    // cannot count what it holds may end the wait at its first byte), or the loss of the device,
    // at most timeoutMs; wakeIdleWaits() ends the wait early, and so does closing the source
    // from another thread. The reader sizes `wanted` to what completes the frame it is in, so
    // the wait ends with the frame's last byte and not before. True when the source waited (or
    // found the bytes there already); false when it cannot wait, or its device hung up, and its
    // reader must keep to its own pace.
    virtual bool waitForBytes(std::size_t wanted, int timeoutMs) {
        (void)wanted;
        (void)timeoutMs;
        return false;
    }
};

} // namespace veltrace::link
