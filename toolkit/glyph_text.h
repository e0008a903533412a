// Internal to the toolkit: text drawn from a table of pre-rendered glyphs, with no font engine.
//
// The Linux build draws capture texts with Qt (FreeType, Liberation Sans for "Arial"); other
// backends draw the same font at the same size from a table made from exactly those renderings
// (tests/tools/make_glyph_table.cpp writes assets/glyphs_sans_11.bin, which the build embeds),
// placed and blended the way Qt's raster engine does, so a capture file has the same pixels on
// every platform. A Linux test holds the two side by side.
#pragma once

#include "toolkit/toolkit.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

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

// A face read from its data file, owning the arrays its GlyphFace points into (so it is
// neither copied nor moved).
struct LoadedGlyphFace {
    std::string note;
    std::string family;
    std::vector<std::int32_t> advance64;
    std::vector<GlyphImage> glyphs;
    std::vector<std::uint8_t> coverage;
    std::vector<KerningPair> kerning;
    GlyphFace face{};

    LoadedGlyphFace() = default;
    LoadedGlyphFace(const LoadedGlyphFace&) = delete;
    LoadedGlyphFace& operator=(const LoadedGlyphFace&) = delete;
};

// The data file of a face, all numbers little-endian:
//   "VTGLYPH1"                                  8 bytes
//   u16 note length, note (where it came from)  for people; the program does not use it
//   u16 family length, family (ASCII)
//   u16 pixel size, u16 ascent, u16 sub-pixel steps (1..64)
//   i32 advance64[256]
//   per byte value and step (256 * steps): i16 left, i16 top, u16 width, u16 height,
//       u32 offset into the coverage
//   u32 coverage size, coverage bytes
//   u32 kerning pairs, per pair: u8 first, u8 second, i16 adjust64 (sorted by first, second)
// and nothing after it.
std::vector<std::uint8_t> encodeGlyphFace(const GlyphFace& face, const std::string& note);

// Null with a reason in `error` when the bytes are not a whole, consistent face: a wrong mark,
// a short or overlong file, a glyph box outside the coverage, unsorted kerning pairs.
std::unique_ptr<LoadedGlyphFace> decodeGlyphFace(std::span<const std::uint8_t> bytes,
                                                 std::string& error);

// The capture font's table as embedded in the program (glyph_data.h), read once; null if the
// embedded bytes are damaged, and then text in that font is drawn by the backend's own means.
const GlyphFace* embeddedSans11Face();

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
