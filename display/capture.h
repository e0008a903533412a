// Capture files: their name, and writing a view's picture with its text overlay. The window's
// CAPTURE and veltrace-log's --captures both come through here, so their files are the same.
#pragma once

#include "display/draw.h"
#include "display/view_geometry.h"
#include "toolkit/toolkit.h"

#include <cstdint>
#include <string>

namespace veltrace::display {

// The overlay's font: "Arial" at 8 points.
inline constexpr const char* CaptureFontFace = "Arial";
inline constexpr int CaptureFontPoints = 8;

// "%yyyy-%mm-%dd_%hh-%ii-%ss" of the date number + "_CH" + (channel + 1) + ".PNG".
std::string captureFileName(std::int64_t dateNumber, int channel);

// Writes a copy of `picture` (drawn for `geometry`) with the overlay in `font` as a PNG file
// through a temporary file renamed into place; the picture itself is left as it was. False when
// the file could not be written, which then leaves neither a partial file nor a damaged older
// one. Needs the toolkit started (text); main thread only.
bool saveCapture(const toolkit::Image& picture, const ViewGeometry& geometry,
                 const CaptureOverlay& overlay, toolkit::Handle font, const std::string& fileName);

} // namespace veltrace::display
