// Both views are drawn by one procedure; what differs between them is in their geometry record.
// Each picture starts as a copy of its view's grid, drawn once (gridOf), then gets the trace and
// the cursor lines.
#include "display/draw.h"

#include <algorithm>
#include <new>

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

// Draws lines into a picture and, when asked, notes the area each one can have touched.
struct Painter {
    toolkit::Image& image;
    Footprint* footprint;

    void line(int x1, int y1, int x2, int y2, std::uint32_t colour) {
        toolkit::drawLine(image, x1, y1, x2, y2, colour);
        if (footprint == nullptr) {
            return;
        }
        // The segment's bounding box within the picture: drawLine writes nothing outside it.
        const Area area{std::max(std::min(x1, x2), 0), std::max(std::min(y1, y2), 0),
                        std::min(std::max(x1, x2), image.width - 1),
                        std::min(std::max(y1, y2), image.height - 1)};
        if (area.left <= area.right && area.top <= area.bottom) {
            footprint->areas.push_back(area);
        }
    }
};

void drawTrace(Painter& painter, const ViewGeometry& g, std::uint32_t colour,
               const state::ChannelData& data) {
    const auto& s = data.samples;
    for (int i = 0; i < SamplesDrawn - 1; ++i) {
        painter.line(PixelsPerSample * i, g.height - g.rowsPerStep * s[i],
                     PixelsPerSample * i + PixelsPerSample, g.height - g.rowsPerStep * s[i + 1],
                     colour);
    }
}

// The vertical pair first (right, then left), then the horizontal pair (upper, then lower).
void drawCursorLines(Painter& painter, const ViewGeometry& g,
                     const state::ChannelCursors& cursors) {
    const auto horizontal = [&painter](int y) {
        painter.line(0, y, HorizontalLineEnd, y, CursorColour);
    };
    const auto vertical = [&painter, &g](int x) { painter.line(x, 0, x, g.height, CursorColour); };
    if (state::showsVertical(cursors.cursorMode)) {
        vertical(cursors.posVLineR);
        vertical(cursors.posVLineL);
    }
    if (state::showsHorizontal(cursors.cursorMode)) {
        horizontal(cursors.posHLineO);
        horizontal(cursors.posHLineU);
    }
}

// The grid is the same in every picture of a view: drawn once, then copied as each picture's
// start, which costs about as much as clearing a picture would.
const toolkit::Image& gridOf(const ViewGeometry& g) {
    const auto draw = [](const ViewGeometry& geometry) {
        toolkit::Image grid;
        grid.width = geometry.width;
        grid.height = geometry.height;
        grid.rgb.assign(static_cast<std::size_t>(grid.width) * grid.height * 3, 0);
        drawGrid(grid, geometry, HalfDivisionColour, HalfDivisionColumns,
                 geometry.halfDivisionRows);
        drawGrid(grid, geometry, DivisionColour, DivisionColumns, geometry.divisionRows);
        return grid;
    };
    static const toolkit::Image screen = draw(ScreenGeometry);
    static const toolkit::Image strip = draw(StripGeometry);
    if (&g == &ScreenGeometry) {
        return screen;
    }
    if (&g == &StripGeometry) {
        return strip;
    }
    // Any other geometry (none in the program) gets its grid drawn afresh.
    thread_local toolkit::Image other;
    other = draw(g);
    return other;
}

void drawContent(toolkit::Image& image, const ViewGeometry& geometry, int channel,
                 const state::ChannelData& data, const state::ChannelCursors& cursors,
                 Footprint* footprint) {
    Painter painter{image, footprint};
    const std::uint32_t traceColour = geometry.traceColours[static_cast<std::size_t>(channel & 3)];
    drawTrace(painter, geometry, traceColour, data);
    drawCursorLines(painter, geometry, cursors);
}

bool fits(const toolkit::Image& image, const ViewGeometry& geometry) {
    return image.width == geometry.width && image.height == geometry.height &&
           image.rgb.size() == static_cast<std::size_t>(image.width) * image.height * 3;
}

} // namespace

bool drawView(toolkit::Image& image, const ViewGeometry& geometry, int channel,
              const state::ChannelData& data, const state::ChannelCursors& cursors) {
    if (!fits(image, geometry)) {
        return false;
    }
    const toolkit::Image& grid = gridOf(geometry);
    std::copy(grid.rgb.begin(), grid.rgb.end(), image.rgb.begin());
    drawContent(image, geometry, channel, data, cursors, nullptr);
    return true;
}

std::shared_ptr<toolkit::Image> renderView(const ViewGeometry& geometry, int channel,
                                           const state::ChannelData& data,
                                           const state::ChannelCursors& cursors) {
    // Copied from the grid rather than cleared first: every byte is written once.
    try {
        auto image = std::make_shared<toolkit::Image>(gridOf(geometry));
        drawContent(*image, geometry, channel, data, cursors, nullptr);
        return image;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool redrawView(toolkit::Image& image, const ViewGeometry& geometry, int channel,
                const state::ChannelData& data, const state::ChannelCursors& cursors,
                Footprint& footprint) {
    if (!fits(image, geometry)) {
        return false;
    }
    const toolkit::Image& grid = gridOf(geometry);
    if (!footprint.valid) {
        std::copy(grid.rgb.begin(), grid.rgb.end(), image.rgb.begin());
    } else {
        const std::size_t row = static_cast<std::size_t>(image.width) * 3;
        for (const Area& area : footprint.areas) {
            const std::size_t from = static_cast<std::size_t>(area.left) * 3;
            const std::size_t length = static_cast<std::size_t>(area.right - area.left + 1) * 3;
            for (int y = area.top; y <= area.bottom; ++y) {
                const std::size_t at = static_cast<std::size_t>(y) * row + from;
                std::copy_n(grid.rgb.begin() + static_cast<std::ptrdiff_t>(at), length,
                            image.rgb.begin() + static_cast<std::ptrdiff_t>(at));
            }
        }
    }
    footprint.areas.clear();
    footprint.valid = true;
    drawContent(image, geometry, channel, data, cursors, &footprint);
    return true;
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
