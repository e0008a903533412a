// Capture files: the text overlay drawn into a capture and the PNG file named by date, time and
// channel.
#include "display/display.h"

#include "app/controls.h"
#include "app/scope_state.h"
#include "toolkit/toolkit.h"

#include <string>

namespace veltrace::display {

std::string captureFileName(std::int64_t dateNumber, int channel) {
    return toolkit::dateFormat("%yyyy-%mm-%dd_%hh-%ii-%ss", dateNumber) + "_CH" +
           toolkit::integerToText(channel + 1) + ".PNG";
}

void drawCaptureOverlay(int channel, int firstLineY, int secondLineY) {
    const app::ScopeState& s = app::scope;
    toolkit::drawingModeSet(toolkit::DrawingModeTransparent);
    toolkit::drawingFontSet(toolkit::fontHandle(app::FontCapture));
    toolkit::frontColourSet(0xFFFFFF);
    toolkit::drawText(5, firstLineY, s.timebaseText[channel] + "; " + s.voltsText[channel]);

    // The readouts drawn are those of the previous update: this one recomputes them only after
    // the image is finished.
    switch (s.cursorMode[channel]) {
    case 1:
        toolkit::drawText(5, secondLineY, s.voltsReadout[channel]);
        break;
    case 2:
        toolkit::drawText(5, secondLineY, s.timeReadout[channel]);
        break;
    case 3:
        toolkit::drawText(5, secondLineY, s.timeReadout[channel] + "; " + s.voltsReadout[channel]);
        break;
    default:
        break;
    }
}

void saveCapture(int imageNumber, int channel) {
    const std::string name = captureFileName(toolkit::dateNow(), channel);
    toolkit::pngEncoderRegister();
    // A failed capture is silent; imageSave leaves neither a partial file nor a damaged older one.
    toolkit::imageSave(imageNumber, name, toolkit::ImageFormatPng);
}

} // namespace veltrace::display
