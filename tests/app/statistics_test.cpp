// The latency figures of the statistics report: what is measured from where to where.
#include "app/statistics.h"
#include "toolkit/control_record.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

namespace {

using namespace veltrace;
using Clock = std::chrono::steady_clock;

// The two figures (median, p99) of one part of the report.
std::pair<double, double> figures(const std::string& report, const std::string& after) {
    const std::size_t at = report.find(after);
    if (at == std::string::npos) {
        return {-1.0, -1.0};
    }
    char* end = nullptr;
    const double median = std::strtod(report.c_str() + at + after.size(), &end);
    const std::size_t p99 = report.find("median, ", at) + 8;
    return {median, std::strtod(report.c_str() + p99, nullptr)};
}

TEST(LatencyStatistics, FromTheReadToTheWindowAndOnToTheRepaintOfThatPicture) {
    EXPECT_EQ(app::latencyReport(), ""); // nothing before it is started
    app::latencyStatisticsStart();
    // 99 frames handed over 1 ms after their read, one 40 ms after; each painted at once (a later
    // repaint of the same picture counts nothing more), except one that never was.
    for (int i = 0; i < 100; ++i) {
        const auto handle = static_cast<toolkit::Handle>(1000 + i);
        const auto read = Clock::now() - std::chrono::milliseconds(i == 50 ? 40 : 1);
        app::latencyFrameShown(handle, read);
        if (i != 70) {
            toolkit::detail::picturePainted(handle);
            toolkit::detail::picturePainted(handle);
        }
    }
    const std::string report = app::latencyReport();
    const auto window = figures(report, "to the window ");
    const auto repaint = figures(report, "to its repaint ");
    EXPECT_NEAR(window.first, 1.0, 0.5) << report;
    EXPECT_NEAR(window.second, 1.0, 0.5) << report; // one slow frame in a hundred is above p99
    EXPECT_NE(report.find("(100 frames)"), std::string::npos) << report;
    EXPECT_NE(report.find("(99 frames painted)"), std::string::npos) << report;
    EXPECT_NEAR(repaint.first, 1.0, 0.5) << report;
    EXPECT_NEAR(repaint.second, 1.0, 0.5) << report;
    toolkit::setPicturePaintedHook(nullptr);
}

} // namespace
