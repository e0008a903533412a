// Pictures drawn again into buffers that no display holds any more, for the cost of what changed
// on them instead of a whole new picture each time. Each buffer keeps a footprint: what the
// drawing needs to know of the picture it holds to draw the next one over it (a default-made
// footprint says "unknown", and the drawing then starts from nothing). A picture handed out
// comes back here when its last holder (the image registry, a display, the window's conversion)
// lets go of it, on whichever thread that is; the pool's lock orders those returns before the
// next reuse.
#pragma once

#include "toolkit/toolkit.h"

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace veltrace::app {

template <typename Footprint> class PicturePool {
  public:
    // numbers: the pictures the pool draws, 0 to numbers - 1; each keeps what one display and
    // the registry cycle through.
    explicit PicturePool(std::size_t numbers) : free_(numbers) {}

    // A picture of the number at the size, drawn by redraw(image, footprint) into a buffer that
    // held an earlier one of the number (or a new one). Null when there is no memory or redraw
    // fails.
    template <typename Redraw>
    std::shared_ptr<toolkit::Image> draw(std::size_t number, int width, int height,
                                         Redraw&& redraw) {
        if (number >= free_.size()) {
            return nullptr;
        }
        std::unique_ptr<Picture> picture = take(number);
        if (!picture || picture->image.width != width || picture->image.height != height) {
            try {
                picture = std::make_unique<Picture>();
                picture->number = number;
                picture->image.width = width;
                picture->image.height = height;
                picture->image.rgb.resize(static_cast<std::size_t>(width) * height * 3);
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
        }
        if (!redraw(picture->image, picture->footprint)) {
            return nullptr;
        }
        Picture* raw = picture.release();
        const std::shared_ptr<Picture> owner(raw, [this](Picture* back) { give(back); });
        return std::shared_ptr<toolkit::Image>(owner, &raw->image);
    }

  private:
    static constexpr std::size_t KeptPerNumber = 3;

    struct Picture {
        toolkit::Image image;
        Footprint footprint;
        std::size_t number = 0;
    };

    std::unique_ptr<Picture> take(std::size_t number) {
        std::lock_guard lock(mutex_);
        std::vector<std::unique_ptr<Picture>>& kept = free_[number];
        if (kept.empty()) {
            return nullptr;
        }
        std::unique_ptr<Picture> picture = std::move(kept.back());
        kept.pop_back();
        return picture;
    }

    void give(Picture* back) {
        std::unique_ptr<Picture> picture(back);
        std::lock_guard lock(mutex_);
        std::vector<std::unique_ptr<Picture>>& kept = free_[picture->number];
        if (kept.size() < KeptPerNumber) {
            kept.push_back(std::move(picture));
        }
    }

    std::mutex mutex_;
    std::vector<std::vector<std::unique_ptr<Picture>>> free_;
};

} // namespace veltrace::app
