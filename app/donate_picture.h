// The About window's "Donate" picture: the BMP file assets/donate.bmp (80 x 32, 32 bits per
// pixel, bit fields), turned into this array at build time (cmake/embed_file.cmake).
#pragma once

#include <cstdint>
#include <span>

namespace veltrace::app {

extern const std::span<const std::uint8_t> donatePicture;

} // namespace veltrace::app
