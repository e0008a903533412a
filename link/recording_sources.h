// Byte sources around recordings: one that records what another source delivers, and one that
// replays a recording (or a raw dump of the line) at its own pace, faster, or at once.
#pragma once

#include "link/byte_source.h"
#include "record/recording.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace veltrace::link {

// Hands on what `inner` delivers and appends every byte to the recording, timed as it is read,
// and marks in the recording where the device was lost. Closing closes `inner`, not the
// recording: one recording may span several ports (a port change) and is closed by its owner.
// Read from one thread only.
class RecordingTap final : public ByteSource {
  public:
    RecordingTap(std::shared_ptr<ByteSource> inner,
                 std::shared_ptr<record::RecordingWriter> recording);
    ReadResult readAvailable(std::span<std::uint8_t> buffer) override;
    void clearErrors() override;
    void close() override;
    bool waitForBytes(std::size_t wanted, int timeoutMs) override;

  private:
    std::shared_ptr<ByteSource> inner_;
    std::shared_ptr<record::RecordingWriter> recording_;
    bool lost_ = false; // the last read found the device gone
};

// Releases a recording's bytes when their recorded arrival time, divided by the speed, has
// passed since the first read: the source behaves like the port it was recorded from, and a read
// that reaches a mark of a lost device ends there and reports the loss. A speed of 0
// (ReplaySource::AsFastAsRead) releases everything at once, as much as each read takes. At the
// end it simply has nothing more.
class ReplaySource final : public ByteSource {
  public:
    static constexpr double AsFastAsRead = 0.0;
    // Microseconds of a monotonic clock; tests hand in their own.
    using Clock = std::function<std::int64_t()>;

    ReplaySource(std::unique_ptr<record::RecordingReader> reader, double speed);
    ReplaySource(std::unique_ptr<record::RecordingReader> reader, double speed, Clock clock);
    ReadResult readAvailable(std::span<std::uint8_t> buffer) override;
    void close() override;

    // Every byte of the file has been handed out (or the file ended in a cut or damage).
    bool finished() const;
    std::uint64_t bytesReplayed() const;
    // How the file ended, once finished ("" when it ended whole).
    std::string endingText() const;

  private:
    mutable std::mutex mutex_;
    std::unique_ptr<record::RecordingReader> reader_;
    double speed_;
    Clock clock_;
    bool started_ = false;
    std::int64_t startMicros_ = 0;
    record::Chunk chunk_;       // the chunk being handed out
    std::size_t chunkUsed_ = 0; // how much of it is gone
    bool finished_ = false;
    bool closed_ = false;
    std::uint64_t replayed_ = 0;
};

// Microseconds of the steady clock, the clock of a live replay.
std::int64_t steadyMicros();

} // namespace veltrace::link
