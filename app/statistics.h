// How soon a frame reaches the screen, for the statistics report (VELTRACE_STATS): from the read
// that brought a frame's last byte to its picture handed to the window, and on to the window's
// repaint of that picture.
#pragma once

#include "toolkit/toolkit.h"

#include <chrono>
#include <string>

namespace veltrace::app {

// Starts collecting (until then the calls below cost nothing).
void latencyStatisticsStart();
// The picture of a frame read at `readTime` was handed to its display (acquisition thread).
void latencyFrameShown(toolkit::Handle picture, std::chrono::steady_clock::time_point readTime);
// Median and 99th percentile of both, one line, or "" when nothing was collected.
std::string latencyReport();

} // namespace veltrace::app
