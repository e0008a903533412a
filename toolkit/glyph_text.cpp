// Text from glyph tables (see glyph_text.h). The placement follows Qt's raster engine with a
// FreeType font that is hinted vertically only: pen positions are kept in 1/64 pixel (advances
// plus pair kerning); a glyph lands at the whole pixel below its position, in the image for the
// quarter pixel that the rest of the position rounds down to, counting the position 1/64 further
// on. The blend is Qt's 16-bit one: source and destination are widened to 16 bits per channel,
// mixed with the coverage widened the same way, and narrowed again with rounding.
#include "toolkit/glyph_text.h"
#include "toolkit/glyph_data.h"

#include <algorithm>
#include <cstring>

namespace veltrace::toolkit::detail {

namespace {

constexpr char FileMark[8] = {'V', 'T', 'G', 'L', 'Y', 'P', 'H', '1'};

class Writer {
  public:
    void bytes(const void* data, std::size_t size) {
        const auto* first = static_cast<const std::uint8_t*>(data);
        out_.insert(out_.end(), first, first + size);
    }
    void u8(std::uint8_t value) { out_.push_back(value); }
    void u16(std::uint16_t value) {
        u8(static_cast<std::uint8_t>(value));
        u8(static_cast<std::uint8_t>(value >> 8));
    }
    void u32(std::uint32_t value) {
        u16(static_cast<std::uint16_t>(value));
        u16(static_cast<std::uint16_t>(value >> 16));
    }
    void text(const std::string& value) {
        u16(static_cast<std::uint16_t>(value.size()));
        bytes(value.data(), value.size());
    }
    std::vector<std::uint8_t> take() { return std::move(out_); }

  private:
    std::vector<std::uint8_t> out_;
};

// Reads what the writer wrote; after the first read past the end every read gives 0 and
// `ok()` stays false.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return at_ == data_.size(); }
    std::size_t left() const { return data_.size() - at_; }
    std::span<const std::uint8_t> bytes(std::size_t size) {
        if (!ok_ || size > left()) {
            ok_ = false;
            return {};
        }
        const auto part = data_.subspan(at_, size);
        at_ += size;
        return part;
    }
    std::uint8_t u8() {
        const auto part = bytes(1);
        return part.empty() ? 0 : part[0];
    }
    std::uint16_t u16() {
        const std::uint16_t low = u8();
        return static_cast<std::uint16_t>(low | (u8() << 8));
    }
    std::uint32_t u32() {
        const std::uint32_t low = u16();
        return low | (static_cast<std::uint32_t>(u16()) << 16);
    }
    std::string text() {
        const auto part = bytes(u16());
        return std::string(part.begin(), part.end());
    }

  private:
    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

bool kerningBefore(const KerningPair& a, const KerningPair& b) {
    return a.first != b.first ? a.first < b.first : a.second < b.second;
}

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
        std::lower_bound(face.kerning, end, KerningPair{first, second, 0}, kerningBefore);
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

std::vector<std::uint8_t> encodeGlyphFace(const GlyphFace& face, const std::string& note) {
    Writer out;
    out.bytes(FileMark, sizeof FileMark);
    out.text(note);
    out.text(face.family);
    out.u16(static_cast<std::uint16_t>(face.pixelSize));
    out.u16(static_cast<std::uint16_t>(face.ascent));
    out.u16(static_cast<std::uint16_t>(face.subpixelSteps));
    for (int byte = 0; byte < 256; ++byte) {
        out.u32(static_cast<std::uint32_t>(face.advance64[byte]));
    }
    std::size_t coverageSize = 0;
    for (int i = 0; i < 256 * face.subpixelSteps; ++i) {
        const GlyphImage& glyph = face.glyphs[i];
        out.u16(static_cast<std::uint16_t>(glyph.left));
        out.u16(static_cast<std::uint16_t>(glyph.top));
        out.u16(glyph.width);
        out.u16(glyph.height);
        out.u32(glyph.offset);
        coverageSize = std::max<std::size_t>(coverageSize, glyph.offset + std::size_t{glyph.width} *
                                                                              glyph.height);
    }
    out.u32(static_cast<std::uint32_t>(coverageSize));
    out.bytes(face.coverage, coverageSize);
    out.u32(static_cast<std::uint32_t>(face.kerningCount));
    for (std::size_t i = 0; i < face.kerningCount; ++i) {
        out.u8(face.kerning[i].first);
        out.u8(face.kerning[i].second);
        out.u16(static_cast<std::uint16_t>(face.kerning[i].adjust64));
    }
    return out.take();
}

std::unique_ptr<LoadedGlyphFace> decodeGlyphFace(std::span<const std::uint8_t> bytes,
                                                 std::string& error) {
    Reader in(bytes);
    const auto mark = in.bytes(sizeof FileMark);
    if (!in.ok() || std::memcmp(mark.data(), FileMark, sizeof FileMark) != 0) {
        error = "not a glyph table (no VTGLYPH1 mark)";
        return nullptr;
    }
    auto loaded = std::make_unique<LoadedGlyphFace>();
    loaded->note = in.text();
    loaded->family = in.text();
    const int pixelSize = in.u16();
    const int ascent = in.u16();
    const int steps = in.u16();
    if (!in.ok() || loaded->family.empty() || pixelSize == 0 || steps < 1 || steps > 64) {
        error = "the header is short or names no family, size or steps";
        return nullptr;
    }
    loaded->advance64.resize(256);
    for (std::int32_t& advance : loaded->advance64) {
        advance = static_cast<std::int32_t>(in.u32());
    }
    loaded->glyphs.resize(256 * static_cast<std::size_t>(steps));
    for (GlyphImage& glyph : loaded->glyphs) {
        glyph.left = static_cast<std::int16_t>(in.u16());
        glyph.top = static_cast<std::int16_t>(in.u16());
        glyph.width = in.u16();
        glyph.height = in.u16();
        glyph.offset = in.u32();
    }
    const std::uint32_t coverageSize = in.u32();
    if (!in.ok() || coverageSize > in.left()) {
        error = "the file ends inside the glyphs or their coverage";
        return nullptr;
    }
    const auto coverage = in.bytes(coverageSize);
    loaded->coverage.assign(coverage.begin(), coverage.end());
    for (const GlyphImage& glyph : loaded->glyphs) {
        if (std::uint64_t{glyph.offset} + std::uint64_t{glyph.width} * glyph.height >
            coverageSize) {
            error = "a glyph's box lies outside the coverage";
            return nullptr;
        }
    }
    const std::uint32_t pairs = in.u32();
    if (!in.ok() || in.left() != std::uint64_t{pairs} * 4) {
        error = "the kerning pairs do not fill the rest of the file";
        return nullptr;
    }
    loaded->kerning.resize(pairs);
    for (KerningPair& pair : loaded->kerning) {
        pair.first = in.u8();
        pair.second = in.u8();
        pair.adjust64 = static_cast<std::int16_t>(in.u16());
    }
    if (!std::is_sorted(loaded->kerning.begin(), loaded->kerning.end(), kerningBefore)) {
        error = "the kerning pairs are not sorted";
        return nullptr;
    }
    // The lookup needs one element to point at even when there are no pairs.
    if (loaded->kerning.empty()) {
        loaded->kerning.push_back(KerningPair{255, 255, 0});
    }
    loaded->face = GlyphFace{loaded->family.c_str(),
                             pixelSize,
                             ascent,
                             steps,
                             loaded->advance64.data(),
                             loaded->glyphs.data(),
                             loaded->coverage.data(),
                             loaded->kerning.data(),
                             pairs};
    return loaded;
}

const GlyphFace* embeddedSans11Face() {
    // Read on first use, from whichever thread draws first; C++ makes that one read.
    static const std::unique_ptr<LoadedGlyphFace> loaded = [] {
        std::string error;
        return decodeGlyphFace(sans11GlyphData, error);
    }();
    return loaded ? &loaded->face : nullptr;
}

const GlyphFace* glyphFaceFor(const std::string& family, int pixelSize) {
    const GlyphFace* face = embeddedSans11Face();
    if (face != nullptr && pixelSize == face->pixelSize && sameFamily(family, face->family)) {
        return face;
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
