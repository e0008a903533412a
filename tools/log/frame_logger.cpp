#include "log/frame_logger.h"

#include "display/capture.h"
#include "display/draw.h"
#include "display/view_geometry.h"
#include "link/frame_log.h"
#include "measure/measure.h"

#include <algorithm>
#include <cmath>
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
        if (options_.measure) {
            csv.pop_back(); // the row's line end goes after the measurements
            csv += measureFields(decoder_, channel_);
            csv += '\n';
        }
        if (!options_.capturesDir.empty() && rows_ % options_.every == 0) {
            const std::string path =
                (std::filesystem::path(options_.capturesDir) / captureName(rows_)).string();
            if (!saveFrameCapture(channel_, options_.font, path)) {
                ++capturesFailed_;
            }
        }
    }
}

std::string csvHeader(bool measure) {
    std::string header = link::csvHeader();
    if (measure) {
        header.pop_back();
        header += ',';
        header += MeasureColumns;
        header += '\n';
    }
    return header;
}

std::string csvNumber(double value) {
    if (!std::isfinite(value)) {
        return "";
    }
    constexpr int Significant = 9;
    const int magnitude =
        value == 0.0 ? 0 : static_cast<int>(std::floor(std::log10(std::abs(value))));
    const int decimals = std::clamp(Significant - 1 - magnitude, 0, 40);
    char buffer[400];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    std::string text = buffer;
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') {
            text.pop_back();
        }
        if (text.back() == '.') {
            text.pop_back();
        }
    }
    if (text == "-0") {
        text = "0";
    }
    return text;
}

std::string measureFields(const link::FrameDecoder& decoder, const state::ChannelData& channel) {
    const measure::Measurements m =
        measure::measureFrame(channel.samples, channel.voltsPerStep, channel.timePerSample);
    std::string fields;
    for (measure::Quantity quantity : measure::AllQuantities) {
        fields += ',';
        if (const auto value = measure::valueOf(m, quantity)) {
            fields += csvNumber(*value);
        }
    }
    fields += ',';
    if (const auto volts = measure::scaleReading(decoder.reading, decoder.head[1]).volts) {
        fields += csvNumber(*volts);
    }
    return fields;
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
