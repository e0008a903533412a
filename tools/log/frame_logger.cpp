#include "log/frame_logger.h"

#include "display/capture.h"
#include "display/draw.h"
#include "display/view_geometry.h"
#include "link/frame_log.h"

#include <cstdio>
#include <filesystem>
#include <memory>

namespace veltrace::logtool {

FrameLogger::FrameLogger(LoggerOptions options) : options_(std::move(options)) {
    if (options_.every == 0) {
        options_.every = 1;
    }
}

void FrameLogger::feed(std::span<const std::uint8_t> bytes, std::int64_t wallMicros,
                       std::string& csv) {
    for (std::uint8_t byte : bytes) {
        if (done()) {
            return;
        }
        if (link::decodeFrameByte(decoder_, byte, channel_) != 1) {
            continue;
        }
        if (!link::frameIsWhole(decoder_, channel_)) {
            ++rejected_;
            continue;
        }
        ++rows_;
        csv += link::csvRow(wallMicros, rows_, decoder_, channel_);
        if (!options_.capturesDir.empty() && rows_ % options_.every == 0) {
            const std::string path =
                (std::filesystem::path(options_.capturesDir) / captureName(rows_)).string();
            if (!saveFrameCapture(channel_, options_.font, path)) {
                ++capturesFailed_;
            }
        }
    }
}

std::string captureName(std::uint64_t frame) {
    char name[40];
    std::snprintf(name, sizeof name, "frame-%06llu.png", static_cast<unsigned long long>(frame));
    return name;
}

bool saveFrameCapture(const state::ChannelData& channel, toolkit::Handle font,
                      const std::string& fileName) {
    // The one-channel view always shows channel 1, in its colour.
    constexpr int ScreenChannel = 0;
    const display::ViewGeometry& geometry = display::geometryOf(display::View::Screen);
    const state::ChannelCursors cursors;
    const std::shared_ptr<toolkit::Image> picture =
        display::renderView(geometry, ScreenChannel, channel, cursors);
    if (!picture) {
        return false;
    }
    return display::saveCapture(*picture, geometry,
                                display::captureOverlay(channel, cursors, state::ChannelReadout{}),
                                font, fileName);
}

} // namespace veltrace::logtool
