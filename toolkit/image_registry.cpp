// Numbered off-screen images, their handles, and the per-thread drawing state.
//
// Both threads create images (the acquisition thread redraws the screen after every frame, the
// main thread after user actions), so the registry sits under a mutex. An image object is never
// changed once a display may hold it: imageCreate always makes a new object, and a display keeps
// its own shared pointer to the object it was handed.
#include "toolkit/core_internal.h"
#include "toolkit/drawing_state.h"
#include "toolkit/toolkit.h"

#include <map>
#include <mutex>
#include <new>

namespace veltrace::toolkit {

namespace {

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

} // namespace

std::shared_ptr<Image> imageBlank(int width, int height) {
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

// A finished image goes under its number, replacing (never changing) the previous one: a display
// that was handed the old one keeps showing it until it is handed the new one.
Handle imageStore(int number, std::shared_ptr<Image> image) {
    ImageRegistry& images = registry();
    std::lock_guard lock(images.mutex);
    images.byNumber.erase(number);
    std::erase_if(images.byHandle, [](const auto& entry) { return entry.second.expired(); });
    if (!image) {
        return 0;
    }
    const Handle handle = ++images.lastHandle;
    images.byHandle[handle] = image;
    images.byNumber[number] = ImageEntry{std::move(image), handle};
    return handle;
}

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
    return imageStore(number, imageBlank(width, height)) != 0 ? 1 : 0;
}

int imageFromMemory(int number, const std::uint8_t* data, std::size_t size) {
    imageFree(number);
    return imageStore(number, imageDecodeBmp(data, size)) != 0 ? 1 : 0;
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

void drawLine(int x1, int y1, int x2, int y2, std::uint32_t colour) {
    if (const std::shared_ptr<Image>& target = detail::drawingState().target) {
        drawLine(*target, x1, y1, x2, y2, colour);
    }
}

} // namespace veltrace::toolkit
