#include "app/statistics.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <vector>

namespace veltrace::app {

namespace {

using Clock = std::chrono::steady_clock;

// Latencies counted in 10-microsecond steps up to one second; constant memory over any run.
class Histogram {
  public:
    static constexpr std::size_t Buckets = 100000;

    void add(Clock::duration latency) {
        const auto steps =
            std::chrono::duration_cast<std::chrono::microseconds>(latency).count() / 10;
        counts_[static_cast<std::size_t>(std::clamp<std::int64_t>(steps, 0, Buckets - 1))]++;
        ++total_;
    }
    std::uint64_t total() const { return total_; }
    // The latency below which that share of the samples lies, in milliseconds.
    double quantile(double share) const {
        const auto wanted = static_cast<std::uint64_t>(share * static_cast<double>(total_ - 1)) + 1;
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < Buckets; ++i) {
            seen += counts_[i];
            if (seen >= wanted) {
                return (static_cast<double>(i) + 0.5) * 0.01;
            }
        }
        return static_cast<double>(Buckets) * 0.01;
    }

  private:
    std::vector<std::uint32_t> counts_ = std::vector<std::uint32_t>(Buckets, 0);
    std::uint64_t total_ = 0;
};

// A picture handed over and not yet painted: its handle and its frame's read time.
struct Pending {
    toolkit::Handle picture = 0;
    Clock::time_point readTime;
};

struct Latencies {
    std::mutex mutex;
    Histogram handedOver;
    Histogram painted;
    // The last few pictures handed over; a display paints the newest it was given, so older
    // ones may never be painted and simply fall out.
    std::array<Pending, 8> pending{};
    std::size_t next = 0;
};

std::atomic<Latencies*> collecting{nullptr};

void painted(toolkit::Handle picture) {
    Latencies* latencies = collecting.load();
    if (latencies == nullptr || picture == 0) {
        return;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(latencies->mutex);
    for (Pending& entry : latencies->pending) {
        if (entry.picture == picture) {
            latencies->painted.add(now - entry.readTime);
            entry.picture = 0; // a repaint of the same picture later is not a new frame
        }
    }
}

} // namespace

void latencyStatisticsStart() {
    if (collecting.load() == nullptr) {
        // Kept to the end of the process: the report is printed after the toolkit has ended.
        collecting = new Latencies;
        toolkit::setPicturePaintedHook(painted);
    }
}

void latencyFrameShown(toolkit::Handle picture, Clock::time_point readTime) {
    Latencies* latencies = collecting.load();
    if (latencies == nullptr) {
        return;
    }
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(latencies->mutex);
    latencies->handedOver.add(now - readTime);
    latencies->pending[latencies->next] = Pending{picture, readTime};
    latencies->next = (latencies->next + 1) % latencies->pending.size();
}

std::string latencyReport() {
    Latencies* latencies = collecting.load();
    if (latencies == nullptr) {
        return "";
    }
    std::lock_guard lock(latencies->mutex);
    if (latencies->handedOver.total() == 0) {
        return "";
    }
    char line[256];
    std::snprintf(line, sizeof line,
                  "veltrace: latency from the read that completed a frame: to the window %.2f ms "
                  "median, %.2f ms p99 (%llu frames); to its repaint %.2f ms median, %.2f ms p99 "
                  "(%llu frames painted)\n",
                  latencies->handedOver.quantile(0.5), latencies->handedOver.quantile(0.99),
                  static_cast<unsigned long long>(latencies->handedOver.total()),
                  latencies->painted.total() ? latencies->painted.quantile(0.5) : 0.0,
                  latencies->painted.total() ? latencies->painted.quantile(0.99) : 0.0,
                  static_cast<unsigned long long>(latencies->painted.total()));
    return line;
}

} // namespace veltrace::app
