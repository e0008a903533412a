// Decoding BMP files held in memory (the About window's picture is one) into our RGB images:
// 24 bits per pixel, or 32 with or without bit-field masks, stored bottom-up or top-down.
#include "toolkit/toolkit.h"

#include <cstdint>
#include <memory>

namespace veltrace::toolkit {

namespace {

constexpr std::uint32_t BiRgb = 0;
constexpr std::uint32_t BiBitfields = 3;
constexpr std::size_t FileHeaderSize = 14;

std::uint32_t readU16(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8);
}

std::uint32_t readU32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// One colour component described by a bit mask, scaled to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t maximum = 0; // largest value of the masked bits after the shift

    explicit Channel(std::uint32_t m) : mask(m) {
        if (mask == 0) {
            return;
        }
        while (((mask >> shift) & 1u) == 0) {
            ++shift;
        }
        maximum = mask >> shift;
    }

    std::uint8_t value(std::uint32_t pixel) const {
        if (maximum == 0) {
            return 0;
        }
        const std::uint64_t raw = (pixel & mask) >> shift;
        return static_cast<std::uint8_t>((raw * 255 + maximum / 2) / maximum);
    }
};

} // namespace

std::shared_ptr<Image> imageDecodeBmp(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < FileHeaderSize + 40 || data[0] != 'B' || data[1] != 'M') {
        return nullptr;
    }
    const std::uint32_t pixelOffset = readU32(data + 10);
    const std::uint8_t* info = data + FileHeaderSize;
    const std::uint32_t infoSize = readU32(info);
    // Version 3 (40 bytes), the two Adobe variants with masks (52, 56), version 4 and 5.
    if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124) {
        return nullptr;
    }
    if (size < FileHeaderSize + infoSize) {
        return nullptr;
    }
    const std::int32_t width = static_cast<std::int32_t>(readU32(info + 4));
    const std::int32_t rawHeight = static_cast<std::int32_t>(readU32(info + 8));
    const std::uint32_t planes = readU16(info + 12);
    const std::uint32_t bitsPerPixel = readU16(info + 14);
    const std::uint32_t compression = readU32(info + 16);
    if (planes != 1 || width <= 0 || width > MaxImageSide || rawHeight == 0 ||
        rawHeight < -MaxImageSide || rawHeight > MaxImageSide) {
        return nullptr;
    }
    const bool topDown = rawHeight < 0;
    const int height = topDown ? -rawHeight : rawHeight;

    std::uint32_t masks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu}; // red, green, blue
    std::size_t headersEnd = FileHeaderSize + infoSize;
    if (bitsPerPixel == 24 && compression == BiRgb) {
        // Blue, green, red bytes.
    } else if (bitsPerPixel == 32 && compression == BiRgb) {
        // Blue, green, red and an unused byte: the default masks.
    } else if (bitsPerPixel == 32 && compression == BiBitfields) {
        // A version 3 header is followed by the three masks; later versions hold them inside.
        const std::size_t masksAt = FileHeaderSize + 40;
        if (infoSize == 40) {
            headersEnd += 12;
        }
        if (size < masksAt + 12) {
            return nullptr;
        }
        for (int i = 0; i < 3; ++i) {
            masks[i] = readU32(data + masksAt + 4 * static_cast<std::size_t>(i));
        }
    } else {
        return nullptr;
    }

    const std::uint64_t rowBytes =
        (std::uint64_t{static_cast<std::uint32_t>(width)} * bitsPerPixel + 31) / 32 * 4;
    const std::uint64_t pixelBytes = rowBytes * static_cast<std::uint64_t>(height);
    if (pixelOffset < headersEnd || pixelOffset > size || pixelBytes > size - pixelOffset) {
        return nullptr;
    }

    std::shared_ptr<Image> image = imageBlank(width, height);
    if (!image) {
        return nullptr;
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
    for (int row = 0; row < height; ++row) {
        const int fileRow = topDown ? row : height - 1 - row;
        const std::uint8_t* source =
            data + pixelOffset + rowBytes * static_cast<std::uint64_t>(fileRow);
        std::uint8_t* target = image->rgb.data() + static_cast<std::size_t>(row) * width * 3;
        for (int x = 0; x < width; ++x, target += 3) {
            if (bitsPerPixel == 24) {
                target[0] = source[2];
                target[1] = source[1];
                target[2] = source[0];
                source += 3;
            } else {
                const std::uint32_t pixel = readU32(source);
                target[0] = red.value(pixel);
                target[1] = green.value(pixel);
                target[2] = blue.value(pixel);
                source += 4;
            }
        }
    }
    return image;
}

} // namespace veltrace::toolkit
