// The count of returns from the waits for bytes, shared by both platforms' waits.
#include "link/idle_wait.h"

#include <atomic>

namespace veltrace::link {

namespace {
std::atomic<std::uint64_t> returns{0};
}

void countWaitReturn() {
    returns.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t waitReturns() {
    return returns.load(std::memory_order_relaxed);
}

} // namespace veltrace::link
