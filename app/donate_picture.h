// The About window's "Donate" picture: a complete BMP file (80 x 32, 32 bits per pixel, bit
// fields) kept inside the program. tools/make_donate_bmp.py draws it and prints the array.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veltrace::app {

inline constexpr std::size_t DonatePictureSize = 10378;
extern const std::uint8_t donatePicture[DonatePictureSize];

} // namespace veltrace::app
