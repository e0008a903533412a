#include "display/capture.h"

#include "toolkit/toolkit.h"

namespace veltrace::display {

std::string captureFileName(std::int64_t dateNumber, int channel) {
    return toolkit::dateFormat("%yyyy-%mm-%dd_%hh-%ii-%ss", dateNumber) + "_CH" +
           toolkit::integerToText(channel + 1) + ".PNG";
}

bool saveCapture(const toolkit::Image& picture, const ViewGeometry& geometry,
                 const CaptureOverlay& overlay, toolkit::Handle font, const std::string& fileName) {
    toolkit::Image captured = picture;
    drawCaptureOverlay(captured, geometry, overlay, font);
    return toolkit::imageSavePng(captured, fileName) != 0;
}

} // namespace veltrace::display
