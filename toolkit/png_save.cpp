// Saving images as PNG files with libpng.
//
// A capture must never leave a half-written file or damage an earlier one, so the file is
// written under a temporary name in the same directory and renamed over the final name only
// once libpng has finished and the stream has been closed without error.
#include "toolkit/core_internal.h"
#include "toolkit/file_replace.h"
#include "toolkit/toolkit.h"

#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <png.h>

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
    detail::PendingFile pending;
    if (!detail::pendingFileOpen(fileName, pending)) {
        return 0;
    }
    if (!writePng(pending.file, &image)) {
        detail::pendingFileDiscard(pending);
        return 0;
    }
    return detail::pendingFileCommit(pending, fileName) ? 1 : 0;
}

} // namespace veltrace::toolkit
