// Numbered off-screen images, BMP decoding, the per-thread drawing state and line drawing.
//
// Both threads create images (the acquisition thread redraws the screen after every frame, the
// main thread after user actions), so the registry sits under a mutex. An image object is never
// changed once a display may hold it: imageCreate always makes a new object, and a display keeps
// its own shared pointer to the object it was handed.
#include "toolkit/core_internal.h"
#include "toolkit/drawing_state.h"
#include "toolkit/toolkit.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

namespace veltrace::toolkit {

namespace {

// Large enough for any screen, small enough that width * height * 3 never overflows.
constexpr int MaxImageSide = 16384;

struct ImageEntry {
    std::shared_ptr<Image> image;
    Handle handle = 0;
};

struct ImageRegistry {
    std::mutex mutex;
    std::map<int, ImageEntry> byNumber;
    // Every image handed out by handle, for as long as someone (a display) still holds it.
    std::map<Handle, std::weak_ptr<Image>> byHandle;
    Handle lastHandle = 0;
};

ImageRegistry& registry() {
    static ImageRegistry instance;
    return instance;
}

std::shared_ptr<Image> findImage(int number) {
    ImageRegistry& images = registry();
    std::lock_guard lock(images.mutex);
    const auto found = images.byNumber.find(number);
    return found == images.byNumber.end() ? nullptr : found->second.image;
}

// Puts a finished image under its number, replacing (never changing) the previous one.
void storeImage(int number, std::shared_ptr<Image> image) {
    ImageRegistry& images = registry();
    std::lock_guard lock(images.mutex);
    std::erase_if(images.byHandle, [](const auto& entry) { return entry.second.expired(); });
    const Handle handle = ++images.lastHandle;
    images.byHandle[handle] = image;
    images.byNumber[number] = ImageEntry{std::move(image), handle};
}

std::shared_ptr<Image> blankImage(int width, int height) {
    if (width <= 0 || height <= 0 || width > MaxImageSide || height > MaxImageSide) {
        return nullptr;
    }
    try {
        auto image = std::make_shared<Image>();
        image->width = width;
        image->height = height;
        image->rgb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3,
                          0);
        return image;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// ---- BMP decoding ----

constexpr std::uint32_t BiRgb = 0;
constexpr std::uint32_t BiBitfields = 3;
constexpr std::size_t FileHeaderSize = 14;

std::uint32_t readU16(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8);
}

std::uint32_t readU32(const std::uint8_t* p) {
    return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// One colour component described by a bit mask, scaled to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint64_t maximum = 0; // largest value of the masked bits after the shift

    explicit Channel(std::uint32_t m) : mask(m) {
        if (mask == 0) {
            return;
        }
        while (((mask >> shift) & 1u) == 0) {
            ++shift;
        }
        maximum = mask >> shift;
    }

    std::uint8_t value(std::uint32_t pixel) const {
        if (maximum == 0) {
            return 0;
        }
        const std::uint64_t raw = (pixel & mask) >> shift;
        return static_cast<std::uint8_t>((raw * 255 + maximum / 2) / maximum);
    }
};

std::shared_ptr<Image> decodeBmp(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size < FileHeaderSize + 40 || data[0] != 'B' || data[1] != 'M') {
        return nullptr;
    }
    const std::uint32_t pixelOffset = readU32(data + 10);
    const std::uint8_t* info = data + FileHeaderSize;
    const std::uint32_t infoSize = readU32(info);
    // Version 3 (40 bytes), the two Adobe variants with masks (52, 56), version 4 and 5.
    if (infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 108 && infoSize != 124) {
        return nullptr;
    }
    if (size < FileHeaderSize + infoSize) {
        return nullptr;
    }
    const std::int32_t width = static_cast<std::int32_t>(readU32(info + 4));
    const std::int32_t rawHeight = static_cast<std::int32_t>(readU32(info + 8));
    const std::uint32_t planes = readU16(info + 12);
    const std::uint32_t bitsPerPixel = readU16(info + 14);
    const std::uint32_t compression = readU32(info + 16);
    if (planes != 1 || width <= 0 || width > MaxImageSide || rawHeight == 0 ||
        rawHeight < -MaxImageSide || rawHeight > MaxImageSide) {
        return nullptr;
    }
    const bool topDown = rawHeight < 0;
    const int height = topDown ? -rawHeight : rawHeight;

    std::uint32_t masks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu}; // red, green, blue
    std::size_t headersEnd = FileHeaderSize + infoSize;
    if (bitsPerPixel == 24 && compression == BiRgb) {
        // Blue, green, red bytes.
    } else if (bitsPerPixel == 32 && compression == BiRgb) {
        // Blue, green, red and an unused byte: the default masks.
    } else if (bitsPerPixel == 32 && compression == BiBitfields) {
        // A version 3 header is followed by the three masks; later versions hold them inside.
        const std::size_t masksAt = FileHeaderSize + 40;
        if (infoSize == 40) {
            headersEnd += 12;
        }
        if (size < masksAt + 12) {
            return nullptr;
        }
        for (int i = 0; i < 3; ++i) {
            masks[i] = readU32(data + masksAt + 4 * static_cast<std::size_t>(i));
        }
    } else {
        return nullptr;
    }

    const std::uint64_t rowBytes =
        (std::uint64_t{static_cast<std::uint32_t>(width)} * bitsPerPixel + 31) / 32 * 4;
    const std::uint64_t pixelBytes = rowBytes * static_cast<std::uint64_t>(height);
    if (pixelOffset < headersEnd || pixelOffset > size || pixelBytes > size - pixelOffset) {
        return nullptr;
    }

    std::shared_ptr<Image> image = blankImage(width, height);
    if (!image) {
        return nullptr;
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);
    for (int row = 0; row < height; ++row) {
        const int fileRow = topDown ? row : height - 1 - row;
        const std::uint8_t* source =
            data + pixelOffset + rowBytes * static_cast<std::uint64_t>(fileRow);
        std::uint8_t* target = image->rgb.data() + static_cast<std::size_t>(row) * width * 3;
        for (int x = 0; x < width; ++x, target += 3) {
            if (bitsPerPixel == 24) {
                target[0] = source[2];
                target[1] = source[1];
                target[2] = source[0];
                source += 3;
            } else {
                const std::uint32_t pixel = readU32(source);
                target[0] = red.value(pixel);
                target[1] = green.value(pixel);
                target[2] = blue.value(pixel);
                source += 4;
            }
        }
    }
    return image;
}

// ---- Lines ----

void putPixel(Image& image, int x, int y, std::uint32_t colour) {
    std::uint8_t* pixel = image.rgb.data() + (static_cast<std::size_t>(y) * image.width + x) * 3;
    pixel[0] = static_cast<std::uint8_t>(colour);
    pixel[1] = static_cast<std::uint8_t>(colour >> 8);
    pixel[2] = static_cast<std::uint8_t>(colour >> 16);
}

std::int64_t floorDiv(__int128 a, __int128 b) { // b > 0
    __int128 q = a / b;
    if (a % b != 0 && a < 0) {
        --q;
    }
    return static_cast<std::int64_t>(q);
}

} // namespace

namespace detail {

DrawingState& drawingState() {
    thread_local DrawingState state;
    return state;
}

void imagesFreeAll() {
    ImageRegistry& images = registry();
    std::lock_guard lock(images.mutex);
    images.byNumber.clear();
    std::erase_if(images.byHandle, [](const auto& entry) { return entry.second.expired(); });
}

} // namespace detail

int imageCreate(int number, int width, int height) {
    imageFree(number);
    std::shared_ptr<Image> image = blankImage(width, height);
    if (!image) {
        return 0;
    }
    storeImage(number, std::move(image));
    return 1;
}

int imageFromMemory(int number, const std::uint8_t* data, std::size_t size) {
    imageFree(number);
    std::shared_ptr<Image> image = decodeBmp(data, size);
    if (!image) {
        return 0;
    }
    storeImage(number, std::move(image));
    return 1;
}

void imageFree(int number) {
    ImageRegistry& images = registry();
    std::lock_guard lock(images.mutex);
    images.byNumber.erase(number);
}

Handle imageHandle(int number) {
    ImageRegistry& images = registry();
    std::lock_guard lock(images.mutex);
    const auto found = images.byNumber.find(number);
    return found == images.byNumber.end() ? 0 : found->second.handle;
}

std::shared_ptr<const Image> imageGet(int number) {
    return findImage(number);
}

std::shared_ptr<const Image> imageByHandle(Handle handle) {
    ImageRegistry& images = registry();
    std::lock_guard lock(images.mutex);
    const auto found = images.byHandle.find(handle);
    return found == images.byHandle.end() ? nullptr : found->second.lock();
}

std::int64_t imagePixel(int number, int x, int y) {
    const std::shared_ptr<Image> image = findImage(number);
    if (!image || x < 0 || y < 0 || x >= image->width || y >= image->height) {
        return -1;
    }
    const std::uint8_t* pixel =
        image->rgb.data() + (static_cast<std::size_t>(y) * image->width + x) * 3;
    return rgbColour(pixel[0], pixel[1], pixel[2]);
}

int drawingBegin(int imageNumber) {
    detail::DrawingState& state = detail::drawingState();
    state = detail::DrawingState{};
    state.target = findImage(imageNumber);
    return state.target ? 1 : 0;
}

void drawingEnd() {
    detail::drawingState() = detail::DrawingState{};
}

void drawingModeSet(int mode) {
    detail::drawingState().mode = mode;
}

void drawingFontSet(Handle font) {
    detail::drawingState().font = font;
}

void frontColourSet(std::uint32_t colour) {
    detail::drawingState().frontColour = colour;
}

// The pixels of a line are those of the ideal segment rounded to the nearest pixel along its
// longer axis ("major"): at major step t the minor coordinate is minor0 + t * dMinor / dMajor
// rounded, halves upwards. Both end points belong to the line, and the line from A to B is the
// same set of pixels as the line from B to A. Clipping picks exactly the steps whose pixel lies in
// the image, found by search rather than by walking, so a segment that starts thousands of pixels
// outside costs no more than one that starts at the edge.
void drawLine(int x1, int y1, int x2, int y2, std::uint32_t colour) {
    const std::shared_ptr<Image>& target = detail::drawingState().target;
    if (!target || target->width <= 0 || target->height <= 0) {
        return;
    }
    Image& image = *target;
    const bool xMajor = std::abs(std::int64_t{x2} - x1) >= std::abs(std::int64_t{y2} - y1);
    std::int64_t major0 = xMajor ? x1 : y1, major1 = xMajor ? x2 : y2;
    std::int64_t minor0 = xMajor ? y1 : x1, minor1 = xMajor ? y2 : x2;
    if (major1 < major0) {
        std::swap(major0, major1);
        std::swap(minor0, minor1);
    }
    const std::int64_t majorLimit = (xMajor ? image.width : image.height) - 1;
    const std::int64_t minorLimit = (xMajor ? image.height : image.width) - 1;
    const std::int64_t steps = major1 - major0;  // >= 0
    const std::int64_t dMinor = minor1 - minor0; // |dMinor| <= steps

    // Offset of the minor coordinate from minor0 at step t.
    const auto minorAt = [&](std::int64_t t) -> std::int64_t {
        if (steps == 0) {
            return 0;
        }
        return floorDiv(__int128{2} * t * dMinor + steps, __int128{2} * steps);
    };

    // Steps whose major coordinate lies in the image.
    std::int64_t first = std::max<std::int64_t>(0, -major0);
    std::int64_t last = std::min<std::int64_t>(steps, majorLimit - major0);
    if (first > last) {
        return;
    }
    // The minor coordinate is monotonic in t: narrow [first, last] to the steps inside the image.
    const auto inside = [&](std::int64_t t) {
        const std::int64_t m = minor0 + minorAt(t);
        return m >= 0 && m <= minorLimit;
    };
    const auto before = [&](std::int64_t t) { // pixel at t is on the start side of the image
        const std::int64_t m = minor0 + minorAt(t);
        return dMinor >= 0 ? m < 0 : m > minorLimit;
    };
    {
        std::int64_t lo = first, hi = last + 1; // first step not "before"
        while (lo < hi) {
            const std::int64_t mid = lo + (hi - lo) / 2;
            if (before(mid)) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        first = lo;
    }
    if (first > last || !inside(first)) {
        return;
    }
    {
        std::int64_t lo = first, hi = last; // last step still inside
        while (lo < hi) {
            const std::int64_t mid = lo + (hi - lo + 1) / 2;
            if (inside(mid)) {
                lo = mid;
            } else {
                hi = mid - 1;
            }
        }
        last = lo;
    }

    // Walk the visible steps with an error term: remainder of 2 * t * dMinor + steps over
    // 2 * steps, which moves by 2 * dMinor (at most one minor step) per step.
    std::int64_t minor = minor0 + minorAt(first);
    const std::int64_t period = 2 * std::max<std::int64_t>(steps, 1);
    std::int64_t remainder = static_cast<std::int64_t>((__int128{2} * first * dMinor + steps) -
                                                       __int128{minorAt(first)} * period);
    for (std::int64_t t = first; t <= last; ++t) {
        const std::int64_t major = major0 + t;
        if (xMajor) {
            putPixel(image, static_cast<int>(major), static_cast<int>(minor), colour);
        } else {
            putPixel(image, static_cast<int>(minor), static_cast<int>(major), colour);
        }
        remainder += 2 * dMinor;
        if (remainder >= period) {
            remainder -= period;
            ++minor;
        } else if (remainder < 0) {
            remainder += period;
            --minor;
        }
    }
}

} // namespace veltrace::toolkit
