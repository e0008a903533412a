#include "link/recording_sources.h"

#include <algorithm>
#include <chrono>

namespace veltrace::link {

std::int64_t steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// ---- RecordingTap ---------------------------------------------------------------------------

RecordingTap::RecordingTap(std::shared_ptr<ByteSource> inner,
                           std::shared_ptr<record::RecordingWriter> recording)
    : inner_(std::move(inner)), recording_(std::move(recording)) {}

ReadResult RecordingTap::readAvailable(std::span<std::uint8_t> buffer) {
    const ReadResult got = inner_->readAvailable(buffer);
    if (recording_) {
        if (got.count > 0) {
            recording_->append(buffer.first(got.count));
        }
        // Marked once per loss, not at every read while the device stays away.
        if (got.deviceLost && !lost_) {
            recording_->appendDeviceLost();
        }
    }
    lost_ = got.deviceLost;
    return got;
}

void RecordingTap::clearErrors() {
    inner_->clearErrors();
}

void RecordingTap::close() {
    inner_->close();
}

bool RecordingTap::waitForBytes(std::size_t wanted, int timeoutMs) {
    return inner_->waitForBytes(wanted, timeoutMs);
}

// ---- ReplaySource ---------------------------------------------------------------------------

ReplaySource::ReplaySource(std::unique_ptr<record::RecordingReader> reader, double speed)
    : ReplaySource(std::move(reader), speed, steadyMicros) {}

ReplaySource::ReplaySource(std::unique_ptr<record::RecordingReader> reader, double speed,
                           Clock clock)
    : reader_(std::move(reader)), speed_(speed), clock_(std::move(clock)) {}

ReadResult ReplaySource::readAvailable(std::span<std::uint8_t> buffer) {
    std::lock_guard lock(mutex_);
    ReadResult result;
    if (closed_ || finished_ || !reader_) {
        return result;
    }
    const std::int64_t now = clock_();
    if (!started_) {
        started_ = true;
        startMicros_ = now;
    }
    const double elapsed = static_cast<double>(now - startMicros_);
    while (result.count < buffer.size()) {
        if (chunkUsed_ == chunk_.bytes.size()) {
            if (!reader_->next(chunk_)) {
                chunk_.bytes.clear();
                finished_ = true;
                break;
            }
            chunkUsed_ = 0;
        }
        if (speed_ > 0.0 && static_cast<double>(chunk_.timeMicros) / speed_ > elapsed) {
            break; // not due yet
        }
        if (chunk_.deviceLost) {
            // The read ends at the loss, as the port's read did.
            chunk_.deviceLost = false;
            result.deviceLost = true;
            break;
        }
        const std::size_t take =
            std::min(buffer.size() - result.count, chunk_.bytes.size() - chunkUsed_);
        std::copy_n(chunk_.bytes.begin() + static_cast<std::ptrdiff_t>(chunkUsed_), take,
                    buffer.begin() + static_cast<std::ptrdiff_t>(result.count));
        chunkUsed_ += take;
        result.count += take;
    }
    replayed_ += result.count;
    return result;
}

void ReplaySource::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

bool ReplaySource::finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

std::uint64_t ReplaySource::bytesReplayed() const {
    std::lock_guard lock(mutex_);
    return replayed_;
}

std::string ReplaySource::endingText() const {
    std::lock_guard lock(mutex_);
    return finished_ && reader_ ? record::endingText(*reader_) : "";
}

} // namespace veltrace::link
