// How soon a frame reaches the screen, for the statistics report (VELTRACE_STATS): from the read
// that brought a frame's last byte to its picture handed to the window, and on to the window's
// repaint of that picture.
#pragma once

#include "toolkit/toolkit.h"

#include <chrono>
#include <cstddef>
#include <string>

namespace veltrace::app {

// Starts collecting (until then the calls below cost nothing).
void latencyStatisticsStart();
// The picture of a frame read at `readTime` was handed to its display (acquisition thread).
void latencyFrameShown(toolkit::Handle picture, std::chrono::steady_clock::time_point readTime);
// Median and 99th percentile of both, one line, or "" when nothing was collected.
std::string latencyReport();
// Also keeps every frame's times of hand-over and repaint on the steady clock (the system's
// monotonic clock, the one veltrace-sim stamps each frame's last byte with), for
// latencyWriteFrameTimes. At most MaxFrameTimes frames; call before latencyStatisticsStart.
inline constexpr std::size_t MaxFrameTimes = 100000;
void latencyKeepFrameTimes();
// Writes them to `path`, one line a frame: "handover NS" or "paint NS HANDOVER_NS", where
// HANDOVER_NS names the hand-over of the picture painted. False when the file cannot be written.
bool latencyWriteFrameTimes(const std::string& path);

} // namespace veltrace::app
