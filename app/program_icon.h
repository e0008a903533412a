// The program's icon: a tiny scope face, drawn rather than stored, so the window, the desktop
// entry's icons and anything else can make it at any size.
#pragma once

#include "toolkit/toolkit.h"

#include <memory>

namespace veltrace::app {

// 16 x 16 is the size the window uses; larger sizes scale the same drawing.
std::shared_ptr<toolkit::Image> drawProgramIcon(int size = 16);

} // namespace veltrace::app
