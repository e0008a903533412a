// A byte source in memory: each read hands out what the test (or a tool) queued before it, in
// the pieces it was queued in, so what arrives in which cycle is exactly what the caller says.
#pragma once

#include "link/byte_source.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace veltrace::link {

class MemorySource final : public ByteSource {
  public:
    // Queues bytes that the next read takes in one piece (or in several, when the reader's buffer
    // is smaller). An empty piece makes one read return nothing.
    void push(std::vector<std::uint8_t> piece);
    // From the next read on, the device reads as lost (after the queued pieces are taken).
    void loseDevice();

    ReadResult readAvailable(std::span<std::uint8_t> buffer) override;
    void close() override;

    bool closed() const;
    std::size_t reads() const;   // readAvailable calls so far
    std::size_t pending() const; // pieces not yet taken

  private:
    mutable std::mutex mutex_;
    std::deque<std::vector<std::uint8_t>> pieces_;
    bool lost_ = false;
    bool closed_ = false;
    std::size_t reads_ = 0;
};

} // namespace veltrace::link
