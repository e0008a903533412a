// The glyph table's data file: the embedded table reads back whole, writing it again gives the
// very bytes, and damaged files are refused with a reason instead of being drawn from.
#include "toolkit/glyph_data.h"
#include "toolkit/glyph_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using namespace veltrace::toolkit;
using detail::GlyphFace;
using detail::GlyphImage;
using detail::KerningPair;

// A face of one sub-pixel step in which only 'A' and 'V' have pictures, and one kerning pair.
struct SmallFace {
    std::int32_t advances[256] = {};
    std::vector<GlyphImage> glyphs = std::vector<GlyphImage>(256);
    std::vector<std::uint8_t> coverage{10, 20, 30, 40, 50, 60, 70};
    std::vector<KerningPair> kerning{{'A', 'V', -13}, {'V', 'A', -20}};
    GlyphFace face{};

    SmallFace() {
        advances['A'] = 300;
        advances['V'] = 280;
        glyphs['A'] = GlyphImage{0, -3, 2, 2, 0};
        glyphs['V'] = GlyphImage{1, -2, 3, 1, 4};
        face = GlyphFace{
            "Sans",        9, 7, 1, advances, glyphs.data(), coverage.data(), kerning.data(),
            kerning.size()};
    }
};

// Where the fields of a file of SmallFace with the note "n" start (KerningAt: the first pair).
constexpr std::size_t StepsAt = 8 + 2 + 1 + 2 + 4 + 4;
constexpr std::size_t GlyphsAt = StepsAt + 2 + 256 * 4;
constexpr std::size_t CoverageSizeAt = GlyphsAt + 256 * 12;
constexpr std::size_t KerningAt = CoverageSizeAt + 4 + 7 + 4;

std::unique_ptr<detail::LoadedGlyphFace> decode(const std::vector<std::uint8_t>& bytes,
                                                std::string& error) {
    error.clear();
    return detail::decodeGlyphFace(bytes, error);
}

TEST(GlyphTableData, TheEmbeddedTableIsTheCaptureFontAndWritesBackToTheSameBytes) {
    const GlyphFace* face = detail::embeddedSans11Face();
    ASSERT_NE(face, nullptr);
    EXPECT_EQ(detail::glyphFaceFor("arial", 11), face);
    EXPECT_EQ(detail::glyphFaceFor("ARIAL", 11), face);
    EXPECT_EQ(detail::glyphFaceFor("Arial", 12), nullptr);
    EXPECT_EQ(detail::glyphFaceFor("Arial Black", 11), nullptr);
    ASSERT_GE(face->subpixelSteps, 1);
    // Every printable ASCII byte has an advance and, but for the space, a picture at every step.
    for (int byte = 0x21; byte < 0x7F; ++byte) {
        EXPECT_GT(face->advance64[byte], 0) << byte;
        for (int step = 0; step < face->subpixelSteps; ++step) {
            const GlyphImage& glyph = face->glyphs[byte * face->subpixelSteps + step];
            EXPECT_GT(glyph.width * glyph.height, 0) << byte << " step " << step;
        }
    }
    EXPECT_GT(face->kerningCount, 0u);

    std::string error;
    const auto loaded = detail::decodeGlyphFace(detail::sans11GlyphData, error);
    ASSERT_NE(loaded, nullptr) << error;
    const std::vector<std::uint8_t> again = detail::encodeGlyphFace(loaded->face, loaded->note);
    const std::vector<std::uint8_t> embedded(detail::sans11GlyphData.begin(),
                                             detail::sans11GlyphData.end());
    EXPECT_TRUE(again == embedded)
        << again.size() << " bytes written, " << embedded.size() << " embedded";
}

TEST(GlyphTableData, ASmallFaceReadsBackFieldForField) {
    const SmallFace small;
    const std::vector<std::uint8_t> bytes = detail::encodeGlyphFace(small.face, "n");
    ASSERT_EQ(bytes.size(), KerningAt + 2 * 4);
    std::string error;
    const auto loaded = decode(bytes, error);
    ASSERT_NE(loaded, nullptr) << error;
    const GlyphFace& face = loaded->face;
    EXPECT_EQ(loaded->note, "n");
    EXPECT_STREQ(face.family, "Sans");
    EXPECT_EQ(face.pixelSize, 9);
    EXPECT_EQ(face.ascent, 7);
    EXPECT_EQ(face.subpixelSteps, 1);
    for (int byte = 0; byte < 256; ++byte) {
        EXPECT_EQ(face.advance64[byte], small.advances[byte]) << byte;
        EXPECT_EQ(face.glyphs[byte].left, small.glyphs[byte].left) << byte;
        EXPECT_EQ(face.glyphs[byte].top, small.glyphs[byte].top) << byte;
        EXPECT_EQ(face.glyphs[byte].width, small.glyphs[byte].width) << byte;
        EXPECT_EQ(face.glyphs[byte].height, small.glyphs[byte].height) << byte;
        EXPECT_EQ(face.glyphs[byte].offset, small.glyphs[byte].offset) << byte;
    }
    EXPECT_EQ(std::vector<std::uint8_t>(face.coverage, face.coverage + 7), small.coverage);
    ASSERT_EQ(face.kerningCount, 2u);
    EXPECT_EQ(face.kerning[1].first, 'V');
    EXPECT_EQ(face.kerning[1].second, 'A');
    EXPECT_EQ(face.kerning[1].adjust64, -20);

    // Drawn from the loaded face, "AV" is kerned: 'V' lands 13/64 pixel nearer than its advance.
    Image image{16, 8, std::vector<std::uint8_t>(16 * 8 * 3, 0)};
    const int end = detail::drawGlyphText(image, 0, 0, "AV", face, 0xFFFFFF);
    EXPECT_EQ(end, (300 - 13 + 280 + 32) / 64);
    EXPECT_NE(image.rgb[(4 * 16 + 0) * 3], 0); // 'A' at row ascent - 3, column 0
}

TEST(GlyphTableData, DamagedFilesAreRefusedWithAReason) {
    const SmallFace small;
    const std::vector<std::uint8_t> good = detail::encodeGlyphFace(small.face, "n");
    std::string error;
    ASSERT_NE(decode(good, error), nullptr) << error;

    // Cut anywhere, or one byte too many: never a face.
    for (std::size_t length = 0; length < good.size(); ++length) {
        const std::vector<std::uint8_t> cut(good.begin(), good.begin() + length);
        EXPECT_EQ(decode(cut, error), nullptr) << "cut to " << length;
        EXPECT_FALSE(error.empty()) << "cut to " << length;
    }
    std::vector<std::uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_EQ(decode(longer, error), nullptr);
    EXPECT_NE(error.find("kerning"), std::string::npos) << error;

    std::vector<std::uint8_t> bad = good;
    bad[7] = '2';
    EXPECT_EQ(decode(bad, error), nullptr);
    EXPECT_NE(error.find("mark"), std::string::npos) << error;

    bad = good;
    bad[StepsAt] = 0; // no sub-pixel steps
    EXPECT_EQ(decode(bad, error), nullptr);
    EXPECT_NE(error.find("steps"), std::string::npos) << error;

    bad = good;
    bad[GlyphsAt + 'V' * 12 + 8] = 5; // 'V' (3 x 1) from coverage byte 5 of 7 runs past its end
    EXPECT_EQ(decode(bad, error), nullptr);
    EXPECT_NE(error.find("outside"), std::string::npos) << error;
    bad[GlyphsAt + 'V' * 12 + 8] = 4; // from byte 4 it ends at the very last byte
    EXPECT_NE(decode(bad, error), nullptr) << error;

    bad = good;
    bad[GlyphsAt + 'A' * 12 + 6] = 0xFF; // a height of 255 rows
    EXPECT_EQ(decode(bad, error), nullptr);
    EXPECT_NE(error.find("outside"), std::string::npos) << error;

    bad = good;
    bad[CoverageSizeAt] = 200; // more coverage than the file holds
    EXPECT_EQ(decode(bad, error), nullptr);
    EXPECT_NE(error.find("ends"), std::string::npos) << error;

    bad = good;
    std::swap(bad[KerningAt], bad[KerningAt + 4]); // ('V', 'A') first, then ('A', 'V')
    std::swap(bad[KerningAt + 1], bad[KerningAt + 5]);
    EXPECT_EQ(decode(bad, error), nullptr);
    EXPECT_NE(error.find("sorted"), std::string::npos) << error;
}

TEST(GlyphTableData, AFaceWithoutKerningPairsStillLooksPairsUp) {
    SmallFace small;
    small.face.kerningCount = 0;
    std::string error;
    const auto loaded = decode(detail::encodeGlyphFace(small.face, "n"), error);
    ASSERT_NE(loaded, nullptr) << error;
    EXPECT_EQ(loaded->face.kerningCount, 0u);
    Image image{16, 8, std::vector<std::uint8_t>(16 * 8 * 3, 0)};
    EXPECT_EQ(detail::drawGlyphText(image, 0, 0, "AV", loaded->face, 0xFFFFFF),
              (300 + 280 + 32) / 64);
}

} // namespace
