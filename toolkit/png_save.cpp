// Saving images as PNG files with libpng.
//
// A capture must never leave a half-written file or damage an earlier one, so the file is
// written under a temporary name in the same directory and renamed over the final name only
// once libpng has finished and the stream has been closed without error.
#include "toolkit/core_internal.h"
#include "toolkit/toolkit.h"

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veltrace::toolkit {

namespace {

std::atomic<bool> pngRegistered{false};
std::atomic<bool> failNextWrite{false};

// libpng reports errors by calling this, which must not return: back to the setjmp point, and
// say nothing (a failed capture is silent).
[[noreturn]] void pngFailed(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Everything between setjmp and a possible longjmp uses only plain values: no destructor may be
// skipped by the jump.
bool writePng(std::FILE* file, const Image* image) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, pngFailed, pngWarning);
    if (png == nullptr) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image->width),
                 static_cast<png_uint_32>(image->height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    if (failNextWrite.exchange(false)) {
        png_error(png, "injected failure");
    }
    const std::size_t rowBytes = static_cast<std::size_t>(image->width) * 3;
    for (int row = 0; row < image->height; ++row) {
        png_write_row(png, image->rgb.data() + rowBytes * static_cast<std::size_t>(row));
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// The permission bits a plain fopen would have given the file (0666 less the umask). umask()
// itself cannot be read without changing it, which would race with other threads.
mode_t newFileMode() {
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
            break;
        }
    }
    return 0666 & ~mask;
}

} // namespace

namespace detail {

void failNextPngWrite() {
    failNextWrite = true;
}

} // namespace detail

void pngEncoderRegister() {
    pngRegistered = true;
}

// Only PNG exists, and only after pngEncoderRegister: before that the encoder is not available
// and nothing is written.
int imageSave(int imageNumber, const std::string& fileName, int format) {
    if (format != ImageFormatPng || !pngRegistered) {
        return 0;
    }
    const std::shared_ptr<const Image> image = imageGet(imageNumber);
    return image ? imageSavePng(*image, fileName) : 0;
}

int imageSavePng(const Image& image, const std::string& fileName) {
    if (fileName.empty() || image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * image.height * 3) {
        return 0;
    }
    const std::filesystem::path target(fileName);
    const std::string name = target.filename().string();
    if (name.empty()) {
        return 0;
    }
    std::filesystem::path directory = target.parent_path();
    std::string temporary =
        ((directory.empty() ? std::filesystem::path(".") : directory) / ("." + name + ".XXXXXX"))
            .string();
    const int descriptor = mkstemp(temporary.data());
    if (descriptor < 0) {
        return 0;
    }
    fchmod(descriptor, newFileMode());
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        close(descriptor);
        unlink(temporary.c_str());
        return 0;
    }
    const bool written = writePng(file, &image);
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        unlink(temporary.c_str());
        return 0;
    }
    return 1;
}

} // namespace veltrace::toolkit
