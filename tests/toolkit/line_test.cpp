#include "toolkit/toolkit.h"

#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <utility>

using namespace veltrace::toolkit;

namespace {

using Pixels = std::set<std::pair<int, int>>;
constexpr int LineImage = 40;

// The pixels one line sets on a fresh black image of the given size.
Pixels drawOne(int w, int h, int x1, int y1, int x2, int y2) {
    EXPECT_EQ(imageCreate(LineImage, w, h), 1);
    EXPECT_EQ(drawingBegin(LineImage), 1);
    drawLine(x1, y1, x2, y2, rgbColour(255, 255, 0));
    drawingEnd();
    const std::vector<std::uint8_t>& rgb = imageGet(LineImage)->rgb;
    Pixels pixels;
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
        if (rgb[i] | rgb[i + 1] | rgb[i + 2]) {
            pixels.insert({static_cast<int>(i / 3 % w), static_cast<int>(i / 3 / w)});
        }
    }
    return pixels;
}

Pixels row(int y, int fromX, int toX) {
    Pixels pixels;
    for (int x = fromX; x <= toX; ++x) {
        pixels.insert({x, y});
    }
    return pixels;
}

} // namespace

TEST(LineClipping, HorizontalLinesAtTheBottomEdge) {
    EXPECT_EQ(drawOne(508, 512, 0, 511, 512, 511), row(511, 0, 507));
    EXPECT_TRUE(drawOne(508, 512, 0, 512, 512, 512).empty());
}

TEST(LineClipping, VerticalLinesAtTheRightEdge) {
    EXPECT_TRUE(drawOne(508, 512, 508, 0, 508, 512).empty());
    EXPECT_EQ(drawOne(508, 512, 507, 0, 507, 512).size(), 512u);
}

TEST(LineClipping, DiagonalsThroughCorners) {
    EXPECT_EQ(drawOne(508, 512, -5, 5, 5, -5), Pixels({{0, 0}}));
    Pixels corner;
    for (int k = 3; k <= 7; ++k) {
        corner.insert({500 + k, -3 + k});
    }
    EXPECT_EQ(drawOne(508, 512, 500, -3, 510, 7), corner);
    // Passes diagonally just outside the top-left corner.
    EXPECT_TRUE(drawOne(508, 512, -2, 1, 1, -2).empty());
    EXPECT_TRUE(drawOne(508, 512, -100, -2000, 700, -1).empty());
}

TEST(LineShape, BothEndPointsOnePixelPerStepSameBothWays) {
    const Pixels line = drawOne(64, 64, 10, 10, 30, 17);
    EXPECT_EQ(line.size(), 21u);
    EXPECT_TRUE(line.count({10, 10}) && line.count({30, 17}));
    EXPECT_EQ(drawOne(64, 64, 30, 17, 10, 10), line);
    EXPECT_EQ(drawOne(64, 64, 5, 60, 5, 60), Pixels({{5, 60}}));
    int previousY = 9;
    for (const auto& [x, y] : line) {
        EXPECT_TRUE(y == previousY || y == previousY + 1) << x;
        previousY = y;
    }
}

// Clipping must keep exactly the pixels that the unclipped line has inside the image: draw each
// line again on a canvas large enough to hold all of it and compare the overlapping part.
TEST(LineClipping, KeepsExactlyTheInsidePixelsOfTheWholeLine) {
    constexpr int W = 508, H = 64, Margin = 300;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> xs(-Margin, W + Margin - 1), ys(-Margin, H + Margin - 1);
    for (int i = 0; i < 60; ++i) {
        const int x1 = i == 0 ? 504 : xs(random), y1 = ys(random);
        const int x2 = i == 0 ? 508 : xs(random), y2 = ys(random);
        const Pixels clipped = drawOne(W, H, x1, y1, x2, y2);
        Pixels expected;
        for (const auto& [x, y] : drawOne(W + 2 * Margin, H + 2 * Margin, x1 + Margin, y1 + Margin,
                                          x2 + Margin, y2 + Margin)) {
            if (x >= Margin && x < W + Margin && y >= Margin && y < H + Margin) {
                expected.insert({x - Margin, y - Margin});
            }
        }
        EXPECT_EQ(clipped, expected) << x1 << "," << y1 << " - " << x2 << "," << y2;
    }
}

// The pixels are the ideal segment rounded to the nearest pixel along its longer axis, halves
// upwards: the formula, computed apart from the drawing's error term, for lines of every slope.
TEST(LineShape, EveryStepIsTheIdealPointRoundedHalfUp) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> coordinate(0, 63);
    for (int i = 0; i < 200; ++i) {
        const int x1 = coordinate(random), y1 = coordinate(random);
        const int x2 = coordinate(random), y2 = coordinate(random);
        const bool xMajor = std::abs(x2 - x1) >= std::abs(y2 - y1);
        int major0 = xMajor ? x1 : y1, major1 = xMajor ? x2 : y2;
        int minor0 = xMajor ? y1 : x1, minor1 = xMajor ? y2 : x2;
        if (major1 < major0) {
            std::swap(major0, major1);
            std::swap(minor0, minor1);
        }
        const int steps = major1 - major0;
        Pixels expected;
        for (int t = 0; t <= steps; ++t) {
            const double exact = steps == 0 ? 0.0 : double(t) * (minor1 - minor0) / steps;
            const int minor = minor0 + static_cast<int>(std::floor(exact + 0.5));
            expected.insert(xMajor ? std::make_pair(major0 + t, minor)
                                   : std::make_pair(minor, major0 + t));
        }
        EXPECT_EQ(drawOne(64, 64, x1, y1, x2, y2), expected)
            << x1 << "," << y1 << " - " << x2 << "," << y2;
    }
}

TEST(LineColour, RedInTheLowestByte) {
    ASSERT_EQ(imageCreate(LineImage, 4, 4), 1);
    ASSERT_EQ(drawingBegin(LineImage), 1);
    drawLine(1, 2, 1, 2, 0x332211);
    drawingEnd();
    drawLine(0, 0, 3, 3, 0xFFFFFF); // no drawing open: nothing happens
    const Image& image = *imageGet(LineImage);
    EXPECT_EQ(image.rgb[(2 * 4 + 1) * 3 + 0], 0x11);
    EXPECT_EQ(image.rgb[(2 * 4 + 1) * 3 + 2], 0x33);
    EXPECT_EQ(imagePixel(LineImage, 0, 0), 0);
}
