// A port that comes back: when the device goes away (the USB adapter is pulled, the line hangs
// up) it closes the port and opens the same one again about once a second, silently, until it
// is back or closed from outside.
#pragma once

#include "link/byte_source.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace veltrace::link {

class ReconnectingPort final : public ByteSource {
  public:
    // Opens the port again; null while it cannot be opened (missing, held by another program).
    using Opener = std::function<std::shared_ptr<ByteSource>()>;
    // Milliseconds of a monotonic clock; tests hand in their own.
    using Clock = std::function<std::int64_t()>;
    static constexpr std::int64_t RetryIntervalMs = 1000;

    ReconnectingPort(std::shared_ptr<ByteSource> opened, Opener reopen);
    ReconnectingPort(std::shared_ptr<ByteSource> opened, Opener reopen, Clock clock);

    // Reads the open port. A read that finds the device gone closes it and reports the loss;
    // from then on each read returns nothing and, once a second has passed since the last try,
    // tries to open the port again. Reads never wait, so the reader's own pause is all the time
    // spent waiting: no spinning, and a stop request is seen as soon as ever.
    ReadResult readAvailable(std::span<std::uint8_t> buffer) override;
    void clearErrors() override;
    // Closes the port and ends the attempts for good.
    void close() override;
    // Waits on the open port; while the device is away it cannot wait, since the attempts to
    // open it again need the reader's cycle.
    bool waitForBytes(std::size_t wanted, int timeoutMs) override;

    bool connected() const;
    std::uint64_t reopenAttempts() const;
    std::uint64_t reconnections() const;

  private:
    mutable std::mutex mutex_; // held across a reopen: a close never races one
    std::shared_ptr<ByteSource> port_;
    Opener reopen_;
    Clock clock_;
    std::int64_t nextAttemptMs_ = 0;
    bool closed_ = false;
    std::uint64_t attempts_ = 0;
    std::uint64_t reconnections_ = 0;
};

} // namespace veltrace::link
