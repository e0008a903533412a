// The program icon: the window's 16 x 16 picture is pinned pixel for pixel, and the larger ones
// the desktop's icon theme gets keep the bezel whole and the trace as thick across as along.
#include "app/program_icon.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using namespace veltrace;

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

constexpr std::uint32_t Bezel = toolkit::rgbColour(150, 150, 150);
constexpr std::uint32_t Trace = toolkit::rgbColour(40, 255, 80);

std::uint32_t pixel(const toolkit::Image& image, int x, int y) {
    const auto at = static_cast<std::size_t>((y * image.width + x) * 3);
    return toolkit::rgbColour(image.rgb[at], image.rgb[at + 1], image.rgb[at + 2]);
}

TEST(ProgramIcon, WindowIconIsUnchanged) {
    const auto icon = app::drawProgramIcon(16);
    ASSERT_TRUE(icon);
    ASSERT_EQ(icon->width, 16);
    ASSERT_EQ(icon->height, 16);
    EXPECT_EQ(fnv1a(icon->rgb), 0xa56ef2ad1b4aa41cull) << std::hex << fnv1a(icon->rgb);
}

TEST(ProgramIcon, EveryThemeSizeKeepsItsBezelWhole) {
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const auto icon = app::drawProgramIcon(size);
        ASSERT_TRUE(icon) << size;
        const int scale = size / 16;
        for (int a = 0; a < size; ++a) {
            for (int k = 0; k < scale; ++k) {
                ASSERT_EQ(pixel(*icon, a, k), Bezel) << size << ": top, x " << a;
                ASSERT_EQ(pixel(*icon, a, size - 1 - k), Bezel) << size << ": bottom, x " << a;
                ASSERT_EQ(pixel(*icon, k, a), Bezel) << size << ": left, y " << a;
                ASSERT_EQ(pixel(*icon, size - 1 - k, a), Bezel) << size << ": right, y " << a;
            }
        }
    }
}

// The longest run of trace pixels in a row (or a column): a pen drawn only down the columns
// leaves the steep flanks one or two pixels wide across the rows.
int longestTraceRun(const toolkit::Image& image, int line, bool alongRow) {
    int longest = 0;
    int run = 0;
    for (int i = 0; i < image.width; ++i) {
        const bool lit = alongRow ? pixel(image, i, line) == Trace : pixel(image, line, i) == Trace;
        run = lit ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

TEST(ProgramIcon, LargeIconsDrawTheTraceEquallyThickAcrossRowsAndColumns) {
    for (int size : {32, 48, 64, 128, 256}) {
        const auto icon = app::drawProgramIcon(size);
        ASSERT_TRUE(icon) << size;
        const int pen = size / 16;
        int rowsCrossed = 0;
        for (int line = 0; line < size; ++line) {
            for (bool alongRow : {true, false}) {
                const int run = longestTraceRun(*icon, line, alongRow);
                if (run > 0) {
                    rowsCrossed += alongRow ? 1 : 0;
                    EXPECT_GE(run, pen) << size << (alongRow ? ": row " : ": column ") << line;
                }
            }
        }
        // The sine spans most of the screen's height.
        EXPECT_GT(rowsCrossed, size / 2) << size;
    }
}

} // namespace
