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

// A picture handed over and not yet painted: its handle, its frame's read time and when it was
// handed over.
struct Pending {
    toolkit::Handle picture = 0;
    Clock::time_point readTime;
    Clock::time_point handedOver;
};

// One line of the frame-times file.
struct FrameTime {
    bool paint = false;
    Clock::time_point at;
    Clock::time_point handedOver; // for a paint
};

struct Latencies {
    std::mutex mutex;
    Histogram handedOver;
    Histogram painted;
    // The last few pictures handed over; a display paints the newest it was given, so older
    // ones may never be painted and simply fall out.
    std::array<Pending, 8> pending{};
    std::size_t next = 0;
    bool keepTimes = false;
    std::vector<FrameTime> times; // reserved in full at the start: no allocation per frame
};

bool keepFrameTimes = false;

void keepTime(Latencies& latencies, const FrameTime& time) {
    if (latencies.keepTimes && latencies.times.size() < latencies.times.capacity()) {
        latencies.times.push_back(time);
    }
}

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
            keepTime(*latencies, FrameTime{true, now, entry.handedOver});
            entry.picture = 0; // a repaint of the same picture later is not a new frame
        }
    }
}

} // namespace

void latencyStatisticsStart() {
    if (collecting.load() == nullptr) {
        // Kept to the end of the process: the report is printed after the toolkit has ended.
        auto* latencies = new Latencies;
        if (keepFrameTimes) {
            latencies->keepTimes = true;
            latencies->times.reserve(MaxFrameTimes);
        }
        collecting = latencies;
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
    latencies->pending[latencies->next] = Pending{picture, readTime, now};
    keepTime(*latencies, FrameTime{false, now, now});
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

void latencyKeepFrameTimes() {
    keepFrameTimes = true;
}

bool latencyWriteFrameTimes(const std::string& path) {
    Latencies* latencies = collecting.load();
    if (latencies == nullptr) {
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) {
        return false;
    }
    const auto ns = [](Clock::time_point t) {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count());
    };
    {
        std::lock_guard lock(latencies->mutex);
        for (const FrameTime& time : latencies->times) {
            if (time.paint) {
                std::fprintf(file, "paint %lld %lld\n", ns(time.at), ns(time.handedOver));
            } else {
                std::fprintf(file, "handover %lld\n", ns(time.at));
            }
        }
    }
    return std::fclose(file) == 0;
}

} // namespace veltrace::app
