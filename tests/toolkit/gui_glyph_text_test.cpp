// The glyph table against Qt: text drawn from the table (what the Windows build draws into
// captures) must be the very pixels Qt draws on Linux. A font or Qt update that changes Qt's
// rendering fails here first; tests/tools/make_glyph_table.cpp then makes a new table.
#include "toolkit/glyph_text.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

using namespace veltrace;

class GlyphTable : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(toolkit::toolkitInit(), 0);
        ASSERT_NE(toolkit::fontLoad(1, "Arial", 8), 0); // 11 pixels at 96 dpi
        face_ = toolkit::detail::glyphFaceFor("Arial", 11);
        ASSERT_NE(face_, nullptr);
    }
    void TearDown() override { toolkit::toolkitEnd(); }

    // Draws text both ways on the same background; returns the number of differing bytes.
    int compare(const std::string& text, int x, int y, std::uint32_t colour,
                const toolkit::Image& background, std::string* where = nullptr) {
        toolkit::Image byQt = background;
        toolkit::Image byTable = background;
        const int endQt = toolkit::drawText(byQt, x, y, text, toolkit::fontHandle(1), colour);
        const int endTable = toolkit::detail::drawGlyphText(byTable, x, y, text, *face_, colour);
        EXPECT_EQ(endTable, endQt) << text;
        int differing = 0;
        for (std::size_t i = 0; i < byQt.rgb.size(); ++i) {
            if (byQt.rgb[i] != byTable.rgb[i]) {
                if (differing == 0 && where != nullptr) {
                    const std::size_t pixel = i / 3;
                    *where = "first at (" + std::to_string(pixel % background.width) + ", " +
                             std::to_string(pixel / background.width) + "): Qt " +
                             std::to_string(byQt.rgb[i]) + ", table " +
                             std::to_string(byTable.rgb[i]);
                }
                ++differing;
            }
        }
        return differing;
    }

    const toolkit::detail::GlyphFace* face_ = nullptr;
};

toolkit::Image blank(int width, int height) {
    return *toolkit::imageBlank(width, height);
}

toolkit::Image noise(int width, int height, std::uint32_t seed) {
    toolkit::Image image = blank(width, height);
    std::mt19937 random(seed);
    for (std::uint8_t& byte : image.rgb) {
        byte = static_cast<std::uint8_t>(random() & 0xFF);
    }
    return image;
}

TEST_F(GlyphTable, DrawsCaptureTextsAsQtDoes) {
    // What captures carry: settings texts with the micro sign, readouts with units.
    const std::string texts[] = {
        "50\xB5s -> 0.5ms/div; DC 10V -> 1V/div",
        "GND 100V -> 10V/div",
        "AC 1V -> 0.1V/div",
        "12.34ms (81.03Hz); -1.25V",
        "0.00s; 0.00V",
        "250ns (4.00MHz)",
    };
    for (const std::string& text : texts) {
        for (int x = -3; x < 4; ++x) {
            std::string where;
            EXPECT_EQ(compare(text, x, 2, 0xFFFFFF, blank(300, 16), &where), 0)
                << text << " at x " << x << ": " << where;
        }
    }
}

TEST_F(GlyphTable, DrawsEveryPrintableCharacterAndPairAsQtDoes) {
    std::string all;
    for (int byte = 0x20; byte < 0x100; ++byte) {
        if (byte < 0x7F || byte >= 0xA0) {
            all.push_back(static_cast<char>(byte));
        }
    }
    // In lines of 40, so kerning pairs and sub-pixel positions of every kind occur.
    for (std::size_t start = 0; start < all.size(); start += 40) {
        std::string where;
        EXPECT_EQ(compare(all.substr(start, 40), 1, 1, 0xFFFFFF, blank(400, 16), &where), 0)
            << "from byte " << start << ": " << where;
    }
    std::mt19937 random(7);
    for (int line = 0; line < 60; ++line) {
        std::string text;
        for (int i = 0; i < 30; ++i) {
            text.push_back(all[random() % all.size()]);
        }
        std::string where;
        EXPECT_EQ(
            compare(text, static_cast<int>(random() % 9), 3, 0xFFFFFF, blank(400, 18), &where), 0)
            << where;
    }
}

TEST_F(GlyphTable, BlendsIntoAnyBackgroundInAnyColourAsQtDoes) {
    const std::uint32_t colours[] = {0xFFFFFF, 0x00FF00, 0x0000FF, 0x8040C0, 0x000000};
    int seed = 1;
    for (std::uint32_t colour : colours) {
        std::string where;
        EXPECT_EQ(compare("Timebase: 50\xB5s -> 0.5ms/div; AVAWTo", 2, 1, colour,
                          noise(260, 14, static_cast<std::uint32_t>(seed++)), &where),
                  0)
            << std::hex << colour << ": " << where;
    }
}

TEST_F(GlyphTable, ClipsAtTheImageEdgesLikeQt) {
    std::string where;
    EXPECT_EQ(compare("Clipped -> 10V/div", -20, -4, 0xFFFFFF, blank(60, 8), &where), 0) << where;
    EXPECT_EQ(compare("Clipped -> 10V/div", 40, 3, 0xFFFFFF, blank(60, 8), &where), 0) << where;
}

} // namespace
