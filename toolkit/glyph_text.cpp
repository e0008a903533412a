// Text from glyph tables (see glyph_text.h). The placement follows Qt's raster engine with a
// FreeType font that is hinted vertically only: pen positions are kept in 1/64 pixel (advances
// plus pair kerning); a glyph lands at the whole pixel below its position, in the image for the
// quarter pixel that the rest of the position rounds down to, counting the position 1/64 further
// on. The blend is Qt's 16-bit one: source and destination are widened to 16 bits per channel,
// mixed with the coverage widened the same way, and narrowed again with rounding.
#include "toolkit/glyph_text.h"

#include <algorithm>
#include <cstring>

namespace veltrace::toolkit::detail {

extern const GlyphFace sans11Face; // glyphs_sans_11.cpp

namespace {

bool sameFamily(const std::string& a, const char* b) {
    const std::size_t length = std::strlen(b);
    if (a.size() != length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const auto lower = [](char c) {
            return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

int kerningOf(const GlyphFace& face, std::uint8_t first, std::uint8_t second) {
    const KerningPair* end = face.kerning + face.kerningCount;
    const KerningPair* found =
        std::lower_bound(face.kerning, end, KerningPair{first, second, 0},
                         [](const KerningPair& a, const KerningPair& b) {
                             return a.first != b.first ? a.first < b.first : a.second < b.second;
                         });
    return found != end && found->first == first && found->second == second ? found->adjust64 : 0;
}

// x * a / 65535 with Qt's rounding.
std::uint32_t multiply65535(std::uint32_t x, std::uint32_t a) {
    const std::uint64_t t = static_cast<std::uint64_t>(x) * a;
    return static_cast<std::uint32_t>((t + (t >> 16) + 0x8000) >> 16);
}

std::uint8_t narrow16(std::uint32_t x) {
    return static_cast<std::uint8_t>((x + 128 - ((x + 128) >> 8)) >> 8);
}

} // namespace

const GlyphFace* glyphFaceFor(const std::string& family, int pixelSize) {
    if (pixelSize == sans11Face.pixelSize && sameFamily(family, sans11Face.family)) {
        return &sans11Face;
    }
    return nullptr;
}

void blendCoverage(Image& image, int x, int y, int width, int height, const std::uint8_t* coverage,
                   std::uint32_t colour) {
    const std::uint32_t source[3] = {(colour & 0xFF) * 257, ((colour >> 8) & 0xFF) * 257,
                                     ((colour >> 16) & 0xFF) * 257};
    for (int row = 0; row < height; ++row) {
        const int py = y + row;
        if (py < 0 || py >= image.height) {
            continue;
        }
        for (int column = 0; column < width; ++column) {
            const int px = x + column;
            const std::uint32_t c = coverage[row * width + column];
            if (px < 0 || px >= image.width || c == 0) {
                continue;
            }
            std::uint8_t* pixel =
                image.rgb.data() + (static_cast<std::size_t>(py) * image.width + px) * 3;
            const std::uint32_t alpha = c * 257;
            for (int k = 0; k < 3; ++k) {
                const std::uint32_t mixed =
                    multiply65535(source[k], alpha) + multiply65535(pixel[k] * 257u, 65535 - alpha);
                pixel[k] = narrow16(mixed);
            }
        }
    }
}

int drawGlyphText(Image& image, int x, int y, const std::string& text, const GlyphFace& face,
                  std::uint32_t colour) {
    if (text.empty() || image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
        return x;
    }
    const int steps = face.subpixelSteps;
    std::int64_t pen = 0; // 1/64 pixel from x
    int previous = -1;
    for (const char c : text) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (face.advance64[byte] == 0) {
            continue; // control characters and the soft hyphen: nothing, not even for kerning
        }
        if (previous >= 0) {
            pen += kerningOf(face, static_cast<std::uint8_t>(previous), byte);
        }
        const std::int64_t position = static_cast<std::int64_t>(x) * 64 + pen;
        std::int64_t whole = position >> 6; // floor, also left of the image
        const int fraction = static_cast<int>(position & 63);
        int step = fraction != 0 ? (fraction + 1) * steps / 64 : 0;
        if (step == steps) {
            ++whole;
            step = 0;
        }
        const GlyphImage& glyph = face.glyphs[byte * steps + step];
        if (glyph.width > 0 && glyph.height > 0) {
            blendCoverage(image, static_cast<int>(whole) + glyph.left, y + face.ascent + glyph.top,
                          glyph.width, glyph.height, face.coverage + glyph.offset, colour);
        }
        pen += face.advance64[byte];
        previous = byte;
    }
    return x + static_cast<int>((pen + 32) >> 6);
}

} // namespace veltrace::toolkit::detail
