// The name of a capture file.
#pragma once

#include <cstdint>
#include <string>

namespace veltrace::display {

// "%yyyy-%mm-%dd_%hh-%ii-%ss" of the date number + "_CH" + (channel + 1) + ".PNG".
std::string captureFileName(std::int64_t dateNumber, int channel);

} // namespace veltrace::display
