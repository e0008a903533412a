// Internal to the toolkit: text drawn from a table of pre-rendered glyphs, with no font engine.
//
// The Linux build draws capture texts with Qt (FreeType, Liberation Sans for "Arial"); other
// backends draw the same font at the same size from a table made from exactly those renderings
// (tests/tools/make_glyph_table.cpp), placed and blended the way Qt's raster engine does, so a
// capture file has the same pixels on every platform. A Linux test holds the two side by side.
#pragma once

#include "toolkit/toolkit.h"

#include <cstdint>
#include <string>

namespace veltrace::toolkit::detail {

// One glyph at one sub-pixel offset: its coverage box relative to the pen position (whole pixel)
// on the baseline.
struct GlyphImage {
    std::int16_t left = 0;
    std::int16_t top = 0; // rows above the baseline are negative
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t offset = 0; // first coverage byte in GlyphFace::coverage, rows top first
};

struct KerningPair {
    std::uint8_t first;
    std::uint8_t second;
    std::int16_t adjust64; // in 1/64 pixel
};

// A font at one pixel size, for the 256 byte values of Latin-1 text.
struct GlyphFace {
    const char* family;
    int pixelSize;
    int ascent;                    // whole pixels from the cell's top to the baseline
    int subpixelSteps;             // glyph images per byte, for offsets of 1/steps pixel
    const std::int32_t* advance64; // [256], in 1/64 pixel
    const GlyphImage* glyphs;      // [256 * subpixelSteps]
    const std::uint8_t* coverage;  // 0..255 per pixel
    const KerningPair* kerning;    // sorted by (first, second)
    std::size_t kerningCount;
};

// The table for a family (compared without regard to case) at a pixel size, or null.
const GlyphFace* glyphFaceFor(const std::string& family, int pixelSize);

// Draws text with its cell's top-left corner at (x, y), blending the glyphs in the colour as
// Qt's raster engine blends anti-aliased text into a 24-bit image; returns the x after it.
int drawGlyphText(Image& image, int x, int y, const std::string& text, const GlyphFace& face,
                  std::uint32_t colour);

// Blends a coverage box (0..255 per pixel) in the colour at (x, y), clipped to the image.
void blendCoverage(Image& image, int x, int y, int width, int height, const std::uint8_t* coverage,
                   std::uint32_t colour);

} // namespace veltrace::toolkit::detail
