// Fonts and text drawn into our own RGB images.
#include "toolkit/toolkit.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>

#include <algorithm>

#include <gtest/gtest.h>

namespace veltrace::toolkit {
namespace {

struct Box {
    int left = INT32_MAX, top = INT32_MAX, right = -1, bottom = -1; // inclusive
    bool empty() const { return right < 0; }
};

// Pixels that differ from the background colour.
Box changedPixels(int number, std::uint32_t background) {
    const std::shared_ptr<const Image> image = imageGet(number);
    Box box;
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            if (imagePixel(number, x, y) != static_cast<std::int64_t>(background)) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x);
                box.bottom = std::max(box.bottom, y);
            }
        }
    }
    return box;
}

class TextTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(toolkitInit(), 1);
        ASSERT_EQ(fontLoad(1, "Arial", 8), 1);
    }
    void TearDown() override {
        drawingEnd();
        toolkitEnd();
    }

    // An image of one colour, ready for text in white.
    static void begin(int width, int height, std::uint32_t background = 0) {
        ASSERT_EQ(imageCreate(0, width, height), 1);
        ASSERT_EQ(drawingBegin(0), 1);
        if (background != 0) {
            for (int y = 0; y < height; ++y) {
                drawLine(0, y, width - 1, y, background);
            }
        }
        drawingModeSet(DrawingModeTransparent);
        drawingFontSet(fontHandle(1));
        frontColourSet(rgbColour(255, 255, 255));
    }
};

using FontLoad = TextTest;

TEST_F(FontLoad, EightPointsAreElevenPixelsAtNinetySixDpi) {
    ASSERT_NE(fontHandle(1), 0);
    EXPECT_EQ(fontHandle(2), 0);
    begin(60, 30);
    drawText(2, 2, "H");
    const Box box = changedPixels(0, 0);
    ASSERT_FALSE(box.empty());
    // The capital H of an 11-pixel Liberation Sans stands 8 rows tall (7.9 pixels); at 8 pixels
    // it would be 6 rows, at 14 (8 points on a 120 dpi screen) 10 rows.
    EXPECT_GE(box.bottom - box.top + 1, 8);
    EXPECT_LE(box.bottom - box.top + 1, 9);
}

using DrawText = TextTest;

TEST_F(DrawText, GlyphsStayInsideTheTextCellAndTheBackgroundStays) {
    const std::uint32_t blue = rgbColour(0, 0, 160);
    begin(100, 30, blue);
    const int x = 10, y = 5;
    const int after = drawText(x, y, "Volts");
    ASSERT_GT(after, x);
    const Box box = changedPixels(0, blue);
    ASSERT_FALSE(box.empty());
    EXPECT_GE(box.left, x);
    EXPECT_LT(box.right, after + 1);
    EXPECT_GE(box.top, y);
    EXPECT_LT(box.bottom, y + 11 + 3); // within the cell of an 11-pixel font
    // Glyph pixels are white blended over the blue by coverage: red and green rise together,
    // blue never drops, and the strongest pixels come close to white.
    int strongest = 0;
    for (int py = box.top; py <= box.bottom; ++py) {
        for (int px = box.left; px <= box.right; ++px) {
            const std::int64_t colour = imagePixel(0, px, py);
            const int red = static_cast<int>(colour & 0xFF);
            const int green = static_cast<int>((colour >> 8) & 0xFF);
            const int blueLevel = static_cast<int>((colour >> 16) & 0xFF);
            EXPECT_NEAR(red, green, 1) << "at " << px << "," << py;
            EXPECT_GE(blueLevel, 160) << "at " << px << "," << py;
            strongest = std::max(strongest, red);
        }
    }
    EXPECT_GT(strongest, 200);
}

TEST_F(DrawText, EmptyTextDrawsNothingAndKeepsX) {
    begin(40, 20);
    EXPECT_EQ(drawText(7, 3, ""), 7);
    EXPECT_TRUE(changedPixels(0, 0).empty());
}

TEST_F(DrawText, LongerTextAdvancesFurther) {
    begin(200, 20);
    const int one = drawText(0, 0, "1");
    const int four = drawText(0, 0, "1111");
    EXPECT_GT(one, 0);
    EXPECT_GT(four, 3 * one);
    EXPECT_EQ(drawText(50, 0, "1111"), 50 + four); // the x after the text, wherever it starts
}

TEST_F(DrawText, ClippedAtTheImageEdges) {
    begin(20, 8);
    drawText(14, -4, "WWWW");
    drawText(-6, 3, "WW");
    const Box box = changedPixels(0, 0);
    ASSERT_FALSE(box.empty());
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.right, 19);
    EXPECT_EQ(imageGet(0)->rgb.size(), 20u * 8u * 3u);
}

TEST_F(DrawText, RowsWithoutPaddingAndColourBytesLandWhereTheyBelong) {
    // 13 pixels make rows of 39 bytes: a stride Qt would otherwise pad to 40.
    begin(13, 14);
    frontColourSet(rgbColour(255, 0, 0));
    drawText(1, 1, "E");

    QImage expected(13, 14, QImage::Format_RGB888);
    expected.fill(Qt::black);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::PreferAntialias);
    {
        QPainter painter(&expected);
        painter.setFont(font);
        painter.setPen(QColor(255, 0, 0));
        painter.drawText(QPointF(1, 1 + QFontMetrics(font, &expected).ascent()), "E");
    }
    int glyphPixels = 0;
    for (int y = 0; y < 14; ++y) {
        for (int x = 0; x < 13; ++x) {
            const QColor want = expected.pixelColor(x, y);
            ASSERT_EQ(imagePixel(0, x, y),
                      static_cast<std::int64_t>(rgbColour(want.red(), want.green(), want.blue())))
                << "at " << x << "," << y;
            glyphPixels += want.red() > 0 ? 1 : 0;
        }
    }
    EXPECT_GT(glyphPixels, 10);
}

} // namespace
} // namespace veltrace::toolkit
