// Internal to the toolkit: the calling thread's drawing state, shared by the line drawing and
// the text drawing code.
#pragma once

#include "toolkit/toolkit.h"

#include <memory>

namespace veltrace::toolkit::detail {

struct DrawingState {
    std::shared_ptr<Image> target; // null outside drawingBegin/drawingEnd
    int mode = 0;
    Handle font = 0;
    std::uint32_t frontColour = 0;
};

// Thread-local: each thread draws on its own image.
DrawingState& drawingState();

} // namespace veltrace::toolkit::detail
