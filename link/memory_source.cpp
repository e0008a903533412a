#include "link/memory_source.h"

#include <algorithm>

namespace veltrace::link {

void MemorySource::push(std::vector<std::uint8_t> piece) {
    std::lock_guard lock(mutex_);
    pieces_.push_back(std::move(piece));
}

void MemorySource::loseDevice() {
    std::lock_guard lock(mutex_);
    lost_ = true;
}

ReadResult MemorySource::readAvailable(std::span<std::uint8_t> buffer) {
    std::lock_guard lock(mutex_);
    ++reads_;
    ReadResult result;
    if (closed_) {
        return result;
    }
    if (pieces_.empty()) {
        result.deviceLost = lost_;
        return result;
    }
    std::vector<std::uint8_t>& piece = pieces_.front();
    result.count = std::min(buffer.size(), piece.size());
    std::copy_n(piece.begin(), result.count, buffer.begin());
    if (result.count == piece.size()) {
        pieces_.pop_front();
    } else {
        piece.erase(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(result.count));
    }
    return result;
}

void MemorySource::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
}

bool MemorySource::closed() const {
    std::lock_guard lock(mutex_);
    return closed_;
}

std::size_t MemorySource::reads() const {
    std::lock_guard lock(mutex_);
    return reads_;
}

std::size_t MemorySource::pending() const {
    std::lock_guard lock(mutex_);
    return pieces_.size();
}

} // namespace veltrace::link
