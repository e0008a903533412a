// A Windows icon file (.ico) of pictures at several sizes, each stored uncompressed as a 32-bit
// device-independent bitmap with an all-opaque mask, as every Windows version reads it.
#pragma once

#include "toolkit/toolkit.h"

#include <cstdint>
#include <vector>

namespace veltrace::makeicon {

// Square pictures from 1 to 256 pixels, in the order given; empty if one is not.
std::vector<std::uint8_t> icoFile(const std::vector<const toolkit::Image*>& pictures);

} // namespace veltrace::makeicon
