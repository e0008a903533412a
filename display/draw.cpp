// Both views are drawn by one procedure; what differs between them is in their geometry record.
#include "display/draw.h"

#include <algorithm>

namespace veltrace::display {

namespace {

// Horizontal lines (grid and cursors) run to column 512 in both views, four columns past the
// right edge; the clipping of drawLine cuts them at 507.
constexpr int HorizontalLineEnd = 512;

// Columns of the vertical grid lines, shared by both views.
constexpr std::array<int, 6> HalfDivisionColumns = {40, 120, 200, 280, 360, 440};
constexpr std::array<int, 6> DivisionColumns = {80, 160, 240, 320, 400, 480};

void drawGrid(toolkit::Image& image, const ViewGeometry& g, std::uint32_t colour,
              const auto& columns, const auto& rows) {
    for (int x : columns) {
        toolkit::drawLine(image, x, 0, x, g.height, colour);
    }
    for (int y : rows) {
        toolkit::drawLine(image, 0, y, HorizontalLineEnd, y, colour);
    }
}

void drawTrace(toolkit::Image& image, const ViewGeometry& g, std::uint32_t colour,
               const state::ChannelData& data) {
    const auto& s = data.samples;
    for (int i = 0; i < SamplesDrawn - 1; ++i) {
        toolkit::drawLine(image, PixelsPerSample * i, g.height - g.rowsPerStep * s[i],
                          PixelsPerSample * i + PixelsPerSample,
                          g.height - g.rowsPerStep * s[i + 1], colour);
    }
}

// The vertical pair first (right, then left), then the horizontal pair (upper, then lower).
void drawCursorLines(toolkit::Image& image, const ViewGeometry& g,
                     const state::ChannelCursors& cursors) {
    const auto horizontal = [&image](int y) {
        toolkit::drawLine(image, 0, y, HorizontalLineEnd, y, CursorColour);
    };
    const auto vertical = [&image, &g](int x) {
        toolkit::drawLine(image, x, 0, x, g.height, CursorColour);
    };
    if (state::showsVertical(cursors.cursorMode)) {
        vertical(cursors.posVLineR);
        vertical(cursors.posVLineL);
    }
    if (state::showsHorizontal(cursors.cursorMode)) {
        horizontal(cursors.posHLineO);
        horizontal(cursors.posHLineU);
    }
}

} // namespace

bool drawView(toolkit::Image& image, const ViewGeometry& geometry, int channel,
              const state::ChannelData& data, const state::ChannelCursors& cursors) {
    if (image.width != geometry.width || image.height != geometry.height ||
        image.rgb.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
        return false;
    }
    std::fill(image.rgb.begin(), image.rgb.end(), std::uint8_t{0});
    const std::uint32_t traceColour = geometry.traceColours[static_cast<std::size_t>(channel & 3)];
    drawGrid(image, geometry, HalfDivisionColour, HalfDivisionColumns, geometry.halfDivisionRows);
    drawGrid(image, geometry, DivisionColour, DivisionColumns, geometry.divisionRows);
    drawTrace(image, geometry, traceColour, data);
    drawCursorLines(image, geometry, cursors);
    return true;
}

std::shared_ptr<toolkit::Image> renderView(const ViewGeometry& geometry, int channel,
                                           const state::ChannelData& data,
                                           const state::ChannelCursors& cursors) {
    std::shared_ptr<toolkit::Image> image = toolkit::imageBlank(geometry.width, geometry.height);
    if (image) {
        drawView(*image, geometry, channel, data, cursors);
    }
    return image;
}

CaptureOverlay captureOverlay(const state::ChannelData& data, const state::ChannelCursors& cursors,
                              const state::ChannelReadout& readout) {
    CaptureOverlay overlay;
    overlay.firstLine = data.timebaseText + "; " + data.voltsText;
    switch (cursors.cursorMode) {
    case state::CursorMode::Horizontal:
        overlay.secondLine = readout.voltsReadout;
        break;
    case state::CursorMode::Vertical:
        overlay.secondLine = readout.timeReadout;
        break;
    case state::CursorMode::Both:
        overlay.secondLine = readout.timeReadout + "; " + readout.voltsReadout;
        break;
    case state::CursorMode::None:
        break;
    }
    return overlay;
}

void drawCaptureOverlay(toolkit::Image& image, const ViewGeometry& geometry,
                        const CaptureOverlay& overlay, toolkit::Handle font) {
    toolkit::drawText(image, geometry.overlayX, geometry.overlayFirstY, overlay.firstLine, font,
                      OverlayColour);
    toolkit::drawText(image, geometry.overlayX, geometry.overlaySecondY, overlay.secondLine, font,
                      OverlayColour);
}

} // namespace veltrace::display
