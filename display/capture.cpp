#include "display/capture.h"

#include "toolkit/toolkit.h"

namespace veltrace::display {

std::string captureFileName(std::int64_t dateNumber, int channel) {
    return toolkit::dateFormat("%yyyy-%mm-%dd_%hh-%ii-%ss", dateNumber) + "_CH" +
           toolkit::integerToText(channel + 1) + ".PNG";
}

} // namespace veltrace::display
