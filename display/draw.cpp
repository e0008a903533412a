// Both views are drawn by one procedure; what differs between them is in their geometry record.
// Each picture starts as a copy of its view's grid, drawn once (gridOf), then gets the trace and
// the cursor lines.
#include "display/draw.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

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

// A segment's bounding box within the picture (drawLine writes nothing outside it); false when
// none of it lies inside.
bool lineArea(const toolkit::Image& image, int x1, int y1, int x2, int y2, Area& area) {
    area = Area{std::max(std::min(x1, x2), 0), std::max(std::min(y1, y2), 0),
                std::min(std::max(x1, x2), image.width - 1),
                std::min(std::max(y1, y2), image.height - 1)};
    return area.left <= area.right && area.top <= area.bottom;
}

// Draws lines into a picture and, when asked, notes the area each one can have touched.
struct Painter {
    toolkit::Image& image;
    Footprint* footprint;

    void line(int x1, int y1, int x2, int y2, std::uint32_t colour) {
        toolkit::drawLine(image, x1, y1, x2, y2, colour);
        Area area;
        if (footprint != nullptr && lineArea(image, x1, y1, x2, y2, area)) {
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

struct Segment {
    int x1, y1, x2, y2;
};

// The cursor lines of a mode, in the order they are drawn: the vertical pair first (right, then
// left), then the horizontal pair (upper, then lower).
std::vector<Segment> cursorSegments(const ViewGeometry& g, const state::ChannelCursors& cursors) {
    std::vector<Segment> segments;
    if (state::showsVertical(cursors.cursorMode)) {
        segments.push_back({cursors.posVLineR, 0, cursors.posVLineR, g.height});
        segments.push_back({cursors.posVLineL, 0, cursors.posVLineL, g.height});
    }
    if (state::showsHorizontal(cursors.cursorMode)) {
        segments.push_back({0, cursors.posHLineO, HorizontalLineEnd, cursors.posHLineO});
        segments.push_back({0, cursors.posHLineU, HorizontalLineEnd, cursors.posHLineU});
    }
    return segments;
}

void drawCursorLines(Painter& painter, const std::vector<Segment>& segments) {
    for (const Segment& s : segments) {
        painter.line(s.x1, s.y1, s.x2, s.y2, CursorColour);
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
                 const state::ChannelData& data, const std::vector<Segment>& cursorLines,
                 Footprint* footprint) {
    Painter painter{image, footprint};
    const std::uint32_t traceColour = geometry.traceColours[static_cast<std::size_t>(channel & 3)];
    drawTrace(painter, geometry, traceColour, data);
    drawCursorLines(painter, cursorLines);
}

// One row of an area back from the grid. Most rows are a few pixels (a trace segment is four
// columns wide): two overlapping fixed-size copies, which the compiler turns into plain moves,
// cost less than a library call each.
inline void putBack(std::uint8_t* target, const std::uint8_t* source, std::size_t length) {
    if (length >= 8 && length <= 16) {
        std::memcpy(target, source, 8);
        std::memcpy(target + length - 8, source + length - 8, 8);
    } else if (length >= 4 && length < 8) {
        std::memcpy(target, source, 4);
        std::memcpy(target + length - 4, source + length - 4, 4);
    } else {
        std::memcpy(target, source, length);
    }
}

bool inside(const Area& inner, const Area& outer) {
    return inner.left >= outer.left && inner.right <= outer.right && inner.top >= outer.top &&
           inner.bottom <= outer.bottom;
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
    drawContent(image, geometry, channel, data, cursorSegments(geometry, cursors), nullptr);
    return true;
}

std::shared_ptr<toolkit::Image> renderView(const ViewGeometry& geometry, int channel,
                                           const state::ChannelData& data,
                                           const state::ChannelCursors& cursors) {
    // Copied from the grid rather than cleared first: every byte is written once.
    try {
        auto image = std::make_shared<toolkit::Image>(gridOf(geometry));
        drawContent(*image, geometry, channel, data, cursorSegments(geometry, cursors), nullptr);
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
    const std::vector<Segment> cursorLines = cursorSegments(geometry, cursors);
    if (!footprint.valid) {
        std::copy(grid.rgb.begin(), grid.rgb.end(), image.rgb.begin());
    } else {
        // Cursor lines are axis-parallel, one pixel wide and drawn last, so the new ones cover
        // every pixel of their areas: an old area inside one of them (above all the same cursor
        // line, which stays put from frame to frame) needs no putting back.
        std::vector<Area> covered;
        for (const Segment& s : cursorLines) {
            Area area;
            if (lineArea(image, s.x1, s.y1, s.x2, s.y2, area)) {
                covered.push_back(area);
            }
        }
        const std::size_t row = static_cast<std::size_t>(image.width) * 3;
        for (const Area& area : footprint.areas) {
            if (std::any_of(covered.begin(), covered.end(),
                            [&area](const Area& line) { return inside(area, line); })) {
                continue;
            }
            const std::size_t from = static_cast<std::size_t>(area.left) * 3;
            const std::size_t length = static_cast<std::size_t>(area.right - area.left + 1) * 3;
            const std::uint8_t* source = grid.rgb.data() + from;
            std::uint8_t* target = image.rgb.data() + from;
            for (int y = area.top; y <= area.bottom; ++y) {
                const std::size_t at = static_cast<std::size_t>(y) * row;
                putBack(target + at, source + at, length);
            }
        }
    }
    footprint.areas.clear();
    footprint.valid = true;
    drawContent(image, geometry, channel, data, cursorLines, &footprint);
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
