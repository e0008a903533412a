#include "toolkit/core_internal.h"
#include "toolkit/toolkit.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <zlib.h>
#ifndef _WIN32
#include <unistd.h>
#endif

using namespace veltrace::toolkit;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t be32(const std::string& s, std::size_t at) {
    return std::uint32_t(std::uint8_t(s[at])) << 24 | std::uint32_t(std::uint8_t(s[at + 1])) << 16 |
           std::uint32_t(std::uint8_t(s[at + 2])) << 8 | std::uint8_t(s[at + 3]);
}

class PngFile : public testing::Test {
  protected:
    fs::path dir =
        fs::temp_directory_path() / ("veltrace-png-" + std::to_string(std::random_device{}()));
    void SetUp() override {
        fs::remove_all(dir);
        fs::create_directories(dir);
        pngEncoderRegister();
        pngEncoderRegister();
    }
    void TearDown() override { fs::remove_all(dir); }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }
};

} // namespace

TEST_F(PngFile, HasOnlyTheThreeChunksUnfilteredRowsAndTheImagesPixels) {
    constexpr int W = 7, H = 5;
    ASSERT_EQ(imageCreate(0, W, H), 1);
    ASSERT_EQ(drawingBegin(0), 1);
    drawLine(0, 0, W - 1, 0, rgbColour(250, 1, 2));     // top row
    drawLine(0, H - 1, W - 1, 0, rgbColour(3, 4, 200)); // a diagonal
    drawingEnd();
    ::umask(022);
    ASSERT_NE(imageSave(0, (dir / "shot.PNG").string(), ImageFormatPng), 0);
    EXPECT_EQ(entries(), std::vector<std::string>{"shot.PNG"});
#ifndef _WIN32 // Windows has no permission bits: they always read back as 0666
    EXPECT_EQ(fs::status(dir / "shot.PNG").permissions() & fs::perms::all,
              fs::perms(0644)); // as a plain fopen would have made it
#endif

    const std::string png = readFile(dir / "shot.PNG");
    ASSERT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    std::vector<std::string> chunks;
    std::string ihdr, idat;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = be32(png, at);
        const std::string type = png.substr(at + 4, 4), data = png.substr(at + 8, length);
        const auto* typeAndData = reinterpret_cast<const Bytef*>(png.data() + at + 4);
        EXPECT_EQ(crc32(0, typeAndData, 4 + length), be32(png, at + 8 + length)) << type;
        if (chunks.empty() || chunks.back() != type) {
            chunks.push_back(type);
        }
        if (type == "IHDR") {
            ihdr += data;
        } else if (type == "IDAT") {
            idat += data;
        }
        at += 12 + length;
    }
    EXPECT_EQ(chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    ASSERT_EQ(ihdr.size(), 13u);
    EXPECT_EQ(be32(ihdr, 0), std::uint32_t(W));
    EXPECT_EQ(be32(ihdr, 4), std::uint32_t(H));
    EXPECT_EQ(ihdr.substr(8), std::string("\x08\x02\x00\x00\x00", 5)); // 8 bits, RGB, no interlace

    ASSERT_GE(idat.size(), 2u);
    EXPECT_EQ(std::uint8_t(idat[1]) >> 6, 3) << "zlib header must say maximum compression";
    std::string raw(H * (1 + 3 * W) + 1, '\0');
    uLongf rawSize = raw.size();
    ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(raw.data()), &rawSize,
                         reinterpret_cast<const Bytef*>(idat.data()), idat.size()),
              Z_OK);
    ASSERT_EQ(rawSize, std::size_t(H * (1 + 3 * W)));
    const Image& image = *imageGet(0);
    for (int y = 0; y < H; ++y) {
        EXPECT_EQ(raw[y * (1 + 3 * W)], 0) << "filter byte of row " << y;
        EXPECT_EQ(raw.substr(y * (1 + 3 * W) + 1, 3 * W),
                  std::string(image.rgb.begin() + 3 * W * y, image.rgb.begin() + 3 * W * (y + 1)));
    }
    EXPECT_EQ(raw.substr(1, 3), "\xFA\x01\x02"); // red, green, blue of the top-left pixel
}

TEST_F(PngFile, ReplacesAnEarlierFileAndWorksWithRelativeNames) {
    ASSERT_EQ(imageCreate(0, 3, 3), 1);
    std::ofstream(dir / "a.PNG") << "earlier";
    const fs::path previous = fs::current_path();
    fs::current_path(dir);
    const int saved = imageSave(0, "a.PNG", ImageFormatPng);
    fs::current_path(previous);
    EXPECT_NE(saved, 0);
    EXPECT_EQ(readFile(dir / "a.PNG").substr(1, 3), "PNG");
    EXPECT_EQ(entries(), std::vector<std::string>{"a.PNG"});
}

TEST_F(PngFile, FailuresLeaveNoFileAndKeepAnEarlierOne) {
    ASSERT_EQ(imageCreate(0, 3, 3), 1);
    EXPECT_EQ(imageSave(0, (dir / "missing" / "x.PNG").string(), ImageFormatPng), 0);
    std::ofstream(dir / "file") << "";
    EXPECT_EQ(imageSave(0, (dir / "file" / "x.PNG").string(), ImageFormatPng), 0); // not a dir
    fs::remove(dir / "file");
    EXPECT_EQ(imageSave(0, (dir / "x.BMP").string(), ImageFormatPng + 1), 0);
    EXPECT_EQ(imageSave(9, (dir / "x.PNG").string(), ImageFormatPng), 0);
    EXPECT_TRUE(entries().empty());

    std::ofstream(dir / "b.PNG") << "earlier";
    veltrace::toolkit::detail::failNextPngWrite();
    EXPECT_EQ(imageSave(0, (dir / "b.PNG").string(), ImageFormatPng), 0);
    EXPECT_EQ(readFile(dir / "b.PNG"), "earlier");
    EXPECT_EQ(entries(), std::vector<std::string>{"b.PNG"});
    EXPECT_NE(imageSave(0, (dir / "b.PNG").string(), ImageFormatPng), 0); // only the next one
}

#ifndef _WIN32 // read-only directory bits do not stop writes on Windows
TEST_F(PngFile, UnwritableDirectoryLeavesNothing) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only directories";
    }
    ASSERT_EQ(imageCreate(0, 3, 3), 1);
    fs::permissions(dir, fs::perms(0555));
    EXPECT_EQ(imageSave(0, (dir / "c.PNG").string(), ImageFormatPng), 0);
    fs::permissions(dir, fs::perms(0755));
    EXPECT_TRUE(entries().empty());
}
#endif
