// Drawing one channel's picture of a view: grid, trace, cursor lines, and for a capture its two
// lines of text. Pure functions of what they are given: no global state, no controls.
#pragma once

#include "display/view_geometry.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <memory>
#include <string>
#include <vector>

namespace veltrace::display {

inline constexpr std::uint32_t HalfDivisionColour = 0x444444;
inline constexpr std::uint32_t DivisionColour = 0x888888;
inline constexpr std::uint32_t CursorColour = 0xFFFF33;
inline constexpr std::uint32_t OverlayColour = 0xFFFFFF;

// Draws channel `channel`'s picture anew into `image`, which must have the view's size: black,
// the half-division grid, the division grid, the trace of samples 0..127 in the channel's trace
// colour, then the cursor lines of its mode. False (and nothing drawn) when the image has another
// size.
bool drawView(toolkit::Image& image, const ViewGeometry& geometry, int channel,
              const state::ChannelData& data, const state::ChannelCursors& cursors);
// The same into a new image; null when there is no memory for one.
std::shared_ptr<toolkit::Image> renderView(const ViewGeometry& geometry, int channel,
                                           const state::ChannelData& data,
                                           const state::ChannelCursors& cursors);

// What a picture holds beyond its view's grid: the areas its trace and cursor lines were drawn
// in (left, top, right, bottom, inclusive).
struct Area {
    int left, top, right, bottom;
};
struct Footprint {
    bool valid = false; // false: the picture's content is unknown
    std::vector<Area> areas;
};
// The same picture as drawView, drawn into one that already holds a picture of the same view:
// only the areas its footprint names are put back to the grid before the new content is drawn,
// and the footprint then names what this content covers. A footprint that is not valid makes it
// start from the whole grid. So a picture can be drawn again for the cost of what is on it.
bool redrawView(toolkit::Image& image, const ViewGeometry& geometry, int channel,
                const state::ChannelData& data, const state::ChannelCursors& cursors,
                Footprint& footprint);

// The text a capture carries: the timebase and volts texts on the first line, the readouts of
// the cursor mode on the second (empty without cursors).
struct CaptureOverlay {
    std::string firstLine;
    std::string secondLine;
};
CaptureOverlay captureOverlay(const state::ChannelData& data, const state::ChannelCursors& cursors,
                              const state::ChannelReadout& readout);
// Writes the overlay's lines in white, transparent, at the view's overlay positions (clipped).
void drawCaptureOverlay(toolkit::Image& image, const ViewGeometry& geometry,
                        const CaptureOverlay& overlay, toolkit::Handle font);

} // namespace veltrace::display
