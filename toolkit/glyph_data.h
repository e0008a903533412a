// The capture font's glyph table: the data file assets/glyphs_sans_11.bin (format in
// glyph_text.h), turned into this array at build time (cmake/embed_file.cmake).
#pragma once

#include <cstdint>
#include <span>

namespace veltrace::toolkit::detail {

extern const std::span<const std::uint8_t> sans11GlyphData;

} // namespace veltrace::toolkit::detail
