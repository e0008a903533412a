// The latency figures of the statistics report: what is measured from where to where.
#include "app/statistics.h"
#include "toolkit/control_record.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

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

TEST(LatencyStatistics, FrameTimesNameEachHandOverAndThePictureEachRepaintShowed) {
    app::latencyKeepFrameTimes();
    app::latencyStatisticsStart();
    // Three pictures handed over; the second is painted twice (only the first counts), then
    // the third, and the first only last.
    app::latencyFrameShown(201, Clock::now());
    app::latencyFrameShown(202, Clock::now());
    toolkit::detail::picturePainted(202);
    toolkit::detail::picturePainted(202);
    app::latencyFrameShown(203, Clock::now());
    toolkit::detail::picturePainted(203);
    toolkit::detail::picturePainted(201);
    toolkit::setPicturePaintedHook(nullptr);

    const std::string path = "frame-times-" + std::to_string(getpid()) + ".txt";
    ASSERT_TRUE(app::latencyWriteFrameTimes(path));
    std::ifstream file(path);
    std::vector<long long> handovers;
    std::vector<std::pair<long long, long long>> paints; // painted at, hand-over named
    std::string line;
    while (std::getline(file, line)) {
        std::istringstream fields(line);
        std::string kind;
        long long a = 0, b = 0;
        fields >> kind >> a;
        if (kind == "handover") {
            handovers.push_back(a);
        } else {
            ASSERT_EQ(kind, "paint") << line;
            fields >> b;
            paints.emplace_back(a, b);
        }
    }
    std::remove(path.c_str());
    ASSERT_EQ(handovers.size(), 3u);
    EXPECT_LE(handovers[0], handovers[1]);
    EXPECT_LE(handovers[1], handovers[2]);
    ASSERT_EQ(paints.size(), 3u);
    // Each repaint names the hand-over of the picture it showed, and follows it.
    EXPECT_EQ(paints[0].second, handovers[1]);
    EXPECT_EQ(paints[1].second, handovers[2]);
    EXPECT_EQ(paints[2].second, handovers[0]);
    for (const auto& paint : paints) {
        EXPECT_GE(paint.first, paint.second);
    }
    // A file that cannot be written says so.
    EXPECT_FALSE(app::latencyWriteFrameTimes("no-such-directory/frame-times.txt"));
}

} // namespace
