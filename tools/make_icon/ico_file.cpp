#include "make_icon/ico_file.h"

namespace veltrace::makeicon {

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// The bitmap of one picture: header, colour rows bottom up (blue, green, red, alpha), then the
// one-bit mask rows, each padded to four bytes; a clear mask bit shows the colour pixel.
std::vector<std::uint8_t> bitmapOf(const toolkit::Image& picture) {
    const auto size = static_cast<std::uint32_t>(picture.width);
    const std::uint32_t maskRow = (size + 31) / 32 * 4;
    std::vector<std::uint8_t> out;
    put32(out, 40);       // header size
    put32(out, size);     // width
    put32(out, size * 2); // height of colour and mask together
    put16(out, 1);        // planes
    put16(out, 32);       // bits per pixel
    put32(out, 0);        // no compression
    put32(out, size * size * 4 + maskRow * size);
    for (int unused = 0; unused < 4; ++unused) {
        put32(out, 0); // resolution and palette
    }
    for (int y = picture.height - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width; ++x) {
            const std::uint8_t* rgb =
                picture.rgb.data() + (static_cast<std::size_t>(y) * picture.width + x) * 3;
            out.push_back(rgb[2]);
            out.push_back(rgb[1]);
            out.push_back(rgb[0]);
            out.push_back(0xFF);
        }
    }
    out.resize(out.size() + static_cast<std::size_t>(maskRow) * size, 0);
    return out;
}

} // namespace

std::vector<std::uint8_t> icoFile(const std::vector<const toolkit::Image*>& pictures) {
    for (const toolkit::Image* picture : pictures) {
        if (picture == nullptr || picture->width != picture->height || picture->width < 1 ||
            picture->width > 256 ||
            picture->rgb.size() != static_cast<std::size_t>(picture->width) * picture->height * 3) {
            return {};
        }
    }
    std::vector<std::uint8_t> out;
    put16(out, 0); // reserved
    put16(out, 1); // an icon (2 would be a cursor)
    put16(out, static_cast<std::uint32_t>(pictures.size()));
    std::vector<std::vector<std::uint8_t>> bitmaps;
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(pictures.size());
    for (const toolkit::Image* picture : pictures) {
        bitmaps.push_back(bitmapOf(*picture));
        // 256 is written as 0: the field is one byte.
        out.push_back(static_cast<std::uint8_t>(picture->width & 0xFF));
        out.push_back(static_cast<std::uint8_t>(picture->height & 0xFF));
        out.push_back(0); // no palette
        out.push_back(0);
        put16(out, 1);  // planes
        put16(out, 32); // bits per pixel
        put32(out, static_cast<std::uint32_t>(bitmaps.back().size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(bitmaps.back().size());
    }
    for (const std::vector<std::uint8_t>& bitmap : bitmaps) {
        out.insert(out.end(), bitmap.begin(), bitmap.end());
    }
    return out;
}

} // namespace veltrace::makeicon
