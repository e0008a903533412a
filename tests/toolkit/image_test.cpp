#include "toolkit/core_internal.h"
#include "toolkit/toolkit.h"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using namespace veltrace::toolkit;

namespace {

void put(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// A BMP file whose pixel (x, y), y counted from the top, holds pixel(x, y) in `bits` bits.
template <typename Pixel>
std::vector<std::uint8_t> makeBmp(int w, int h, bool topDown, int bits, int compression,
                                  std::uint32_t infoSize, const std::uint32_t (&masks)[3],
                                  Pixel pixel) {
    const std::size_t masksAfter = compression == 3 && infoSize == 40 ? 12 : 0;
    const std::size_t offset = 14 + infoSize + masksAfter, rowBytes = (w * bits + 31) / 32 * 4;
    std::vector<std::uint8_t> b(offset + rowBytes * h, 0);
    b[0] = 'B', b[1] = 'M';
    put(b, 2, static_cast<std::uint32_t>(b.size()), 4);
    put(b, 10, static_cast<std::uint32_t>(offset), 4);
    put(b, 14, infoSize, 4);
    put(b, 18, w, 4);
    put(b, 22, topDown ? -h : h, 4);
    put(b, 26, 1, 2);
    put(b, 28, bits, 2);
    put(b, 30, compression, 4);
    for (int i = 0; compression == 3 && i < 3; ++i) {
        put(b, 54 + 4 * i, masks[i], 4);
    }
    for (int y = 0; y < h; ++y) {
        const std::size_t rowAt = offset + rowBytes * (topDown ? y : h - 1 - y);
        for (int x = 0; x < w; ++x) {
            put(b, rowAt + x * bits / 8, pixel(x, y), bits / 8);
        }
    }
    return b;
}

constexpr std::uint32_t RedOnTop[3] = {0xFF000000u, 0x00FF0000u, 0x0000FF00u};
const auto gradient = [](int x, int y) {
    return (std::uint32_t(10 * x + 1) << 24) | (std::uint32_t(20 * y + 2) << 16) | (7u << 8);
};

} // namespace

TEST(BmpDecoding, BitFieldsWithRedInTheTopByte) {
    for (std::uint32_t infoSize : {40u, 124u}) {
        for (bool topDown : {false, true}) {
            const auto bmp = makeBmp(5, 3, topDown, 32, 3, infoSize, RedOnTop, gradient);
            ASSERT_EQ(imageFromMemory(3, bmp.data(), bmp.size()), 1);
            for (int y = 0; y < 3; ++y) {
                for (int x = 0; x < 5; ++x) {
                    EXPECT_EQ(imagePixel(3, x, y), rgbColour(10 * x + 1, 20 * y + 2, 7));
                }
            }
        }
    }
}

TEST(BmpDecoding, NarrowMasksAnd24BitPaddedRows) {
    const std::uint32_t masks565[3] = {0xF800, 0x07E0, 0x001F};
    auto bmp =
        makeBmp(2, 1, false, 32, 3, 40, masks565, [](int x, int) { return x ? 0xF81Fu : 0x07E0u; });
    ASSERT_EQ(imageFromMemory(3, bmp.data(), bmp.size()), 1);
    EXPECT_EQ(imagePixel(3, 0, 0), rgbColour(0, 255, 0));
    EXPECT_EQ(imagePixel(3, 1, 0), rgbColour(255, 0, 255));
    // Width 3: 9 bytes of pixels padded to 12 per row; bytes are blue, green, red.
    bmp = makeBmp(3, 2, false, 24, 0, 40, RedOnTop,
                  [](int x, int y) { return std::uint32_t(x + 1) << (8 * (2 - y)); });
    ASSERT_EQ(imageFromMemory(3, bmp.data(), bmp.size()), 1);
    EXPECT_EQ(imagePixel(3, 2, 0), rgbColour(3, 0, 0));
    EXPECT_EQ(imagePixel(3, 2, 1), rgbColour(0, 3, 0));
}

TEST(BmpDecoding, MalformedFilesAreRefused) {
    const auto bmp = makeBmp(4, 4, false, 32, 3, 40, RedOnTop, gradient);
    for (std::size_t size = 0; size < bmp.size(); ++size) {
        EXPECT_EQ(imageFromMemory(3, bmp.data(), size), 0) << size;
    }
    EXPECT_EQ(imageHandle(3), 0);
    auto broken = bmp;
    put(broken, 10, 0xFFFFFFF0u, 4); // pixel offset past the end
    EXPECT_EQ(imageFromMemory(3, broken.data(), broken.size()), 0);
    broken = bmp;
    put(broken, 18, 0x40000000u, 4); // huge width
    EXPECT_EQ(imageFromMemory(3, broken.data(), broken.size()), 0);
    broken = bmp;
    put(broken, 30, 1, 4); // run-length compressed
    EXPECT_EQ(imageFromMemory(3, broken.data(), broken.size()), 0);
}

TEST(ImageRegistry, ReplacingMakesANewObjectAndFreeingForgetsTheNumber) {
    ASSERT_EQ(imageCreate(2, 3, 2), 1);
    EXPECT_EQ(imagePixel(2, 2, 1), 0);
    EXPECT_EQ(imagePixel(2, 3, 1), -1);
    const Handle first = imageHandle(2);
    const std::shared_ptr<const Image> shown = imageByHandle(first);
    ASSERT_EQ(shown, imageGet(2));
    ASSERT_EQ(imageCreate(2, 3, 2), 1);
    ASSERT_EQ(drawingBegin(2), 1);
    drawLine(0, 0, 2, 0, 0xFFFFFF);
    drawingEnd();
    EXPECT_NE(imageHandle(2), first);
    EXPECT_EQ(shown->rgb, std::vector<std::uint8_t>(18, 0)); // the shown image is untouched
    EXPECT_EQ(imageByHandle(first), shown);
    EXPECT_EQ(imageGet(2)->rgb[0], 0xFF);
    EXPECT_EQ(imageCreate(2, 0, 5), 0);
    EXPECT_EQ(imageGet(2), nullptr);
    ASSERT_EQ(imageCreate(4, 1, 1), 1);
    veltrace::toolkit::detail::imagesFreeAll();
    EXPECT_EQ(imageHandle(4), 0);
    EXPECT_EQ(drawingBegin(4), 0);
}

TEST(DrawingStateThreaded, EachThreadDrawsOnItsOwnImage) {
    ASSERT_EQ(imageCreate(1, 8, 8), 1);
    ASSERT_EQ(imageCreate(2, 8, 8), 1);
    // Both threads have begun before either draws. (A mutex and a condition rather than
    // std::latch: MinGW's GCC 12 library can miss the latch's wake-up and hang.)
    std::mutex lock;
    std::condition_variable arrived;
    int begun = 0;
    const auto draw = [&](int number, int row) {
        EXPECT_EQ(drawingBegin(number), 1);
        {
            std::unique_lock guard(lock);
            ++begun;
            arrived.notify_all();
            arrived.wait(guard, [&] { return begun == 2; });
        }
        drawLine(0, row, 7, row, 0xFFFFFF);
        drawingEnd();
    };
    std::thread other(draw, 2, 5);
    draw(1, 1);
    other.join();
    EXPECT_EQ(imagePixel(1, 3, 1), 0xFFFFFF);
    EXPECT_EQ(imagePixel(1, 3, 5), 0);
    EXPECT_EQ(imagePixel(2, 3, 5), 0xFFFFFF);
    EXPECT_EQ(imagePixel(2, 3, 1), 0);
}
