#include "link/frame_log.h"

#include <bit>
#include <charconv>
#include <cstdio>
#include <ctime>

namespace veltrace::link {

namespace {

constexpr std::uint8_t SyncMask = 0x7C;
constexpr std::uint8_t FlagHigh = 0x01;
constexpr std::uint8_t FlagLow = 0x02;
constexpr std::uint8_t FlagNegative = 0x10;

bool sevenBit(std::uint8_t byte) {
    return byte <= 0x7F;
}

// Shortest text that reads back as the float; '.' whatever the locale.
std::string numberText(float value) {
    char buffer[32];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general);
    return error == std::errc{} ? std::string(buffer, end) : std::string();
}

void appendField(std::string& row, std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        row += text;
        return;
    }
    row += '"';
    for (char c : text) {
        if (c == '"') {
            row += '"';
        }
        row += c;
    }
    row += '"';
}

} // namespace

bool frameIsWhole(const FrameDecoder& decoder, const state::ChannelData& channel) {
    if ((decoder.head[0] & SyncMask) != SyncMask) {
        return false;
    }
    for (std::uint8_t byte : decoder.head) {
        if (!sevenBit(byte)) {
            return false;
        }
    }
    for (std::uint8_t byte : channel.samples) {
        if (!sevenBit(byte)) {
            return false;
        }
    }
    for (std::uint8_t byte : decoder.reading) {
        if (!sevenBit(byte)) {
            return false;
        }
    }
    const std::uint8_t switches = decoder.head[1];
    if (((switches >> 4) & 3) == 3 || ((switches >> 2) & 3) == 3) {
        return false;
    }
    if (decoder.head[2] > 9) {
        return false;
    }
    const std::uint8_t trigger = decoder.head[3];
    if ((trigger & 0x7E) != 0) {
        if (std::popcount(static_cast<unsigned>(trigger & 0x78)) != 1) {
            return false;
        }
        const std::uint8_t level = decoder.head[4];
        if (level != 0 && std::popcount(static_cast<unsigned>(level & 0x7C)) != 1) {
            return false;
        }
    }
    const std::uint8_t flags = decoder.reading[3];
    if ((flags & ~(FlagHigh | FlagLow | FlagNegative)) != 0 ||
        (flags & (FlagHigh | FlagLow)) == (FlagHigh | FlagLow)) {
        return false;
    }
    return true;
}

std::string readingText(const std::array<std::uint8_t, 4>& reading, std::uint8_t switchesByte) {
    const int range = (switchesByte >> 2) & 3;
    if (range == 3 || reading[0] > 9 || reading[1] > 9 || reading[2] > 9) {
        return "";
    }
    const int decimals = 2 - range; // 1 V range: hundredths; 10 V: tenths; 100 V: units
    const int value = reading[0] * 100 + reading[1] * 10 + reading[2];
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) <= decimals) {
        digits.insert(0, static_cast<std::size_t>(decimals + 1) - digits.size(), '0');
    }
    if (decimals > 0) {
        digits.insert(digits.size() - static_cast<std::size_t>(decimals), 1, '.');
    }
    // Zero has no sign, whatever the flag says.
    if ((reading[3] & FlagNegative) != 0 && value != 0) {
        digits.insert(0, 1, '-');
    }
    return digits;
}

std::string readingMark(std::uint8_t flags) {
    if ((flags & FlagHigh) != 0) {
        return "high";
    }
    if ((flags & FlagLow) != 0) {
        return "low";
    }
    return "";
}

std::string localIsoTime(std::int64_t wallMicros) {
    std::int64_t seconds = wallMicros / 1000000;
    std::int64_t micros = wallMicros % 1000000;
    if (micros < 0) {
        micros += 1000000;
        --seconds;
    }
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm fields{};
    localtime_r(&time, &fields);
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &fields);
    char millis[8];
    std::snprintf(millis, sizeof millis, ".%03d", static_cast<int>(micros / 1000));
    return std::string(text, length) + millis;
}

std::string latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 4);
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::string csvHeader() {
    std::string header(CsvColumns);
    for (int i = 0; i < state::SampleSlots; ++i) {
        header += ",s" + std::to_string(i);
    }
    header += '\n';
    return header;
}

std::string csvRow(std::int64_t wallMicros, std::uint64_t frame, const FrameDecoder& decoder,
                   const state::ChannelData& channel) {
    std::string row;
    row.reserve(640);
    row += localIsoTime(wallMicros);
    row += ',';
    row += std::to_string(frame);
    row += ',';
    appendField(row, latin1ToUtf8(channel.voltsText));
    row += ',';
    // A division is 6.4 steps of the converter.
    row += numberText(channel.voltsPerStep * 6.4f);
    row += ',';
    appendField(row, latin1ToUtf8(channel.timebaseText));
    row += ',';
    row += numberText(channel.timePerSample);
    row += ',';
    appendField(row, latin1ToUtf8(channel.triggerText));
    row += ',';
    row += readingText(decoder.reading, decoder.head[1]);
    row += ',';
    row += readingMark(decoder.reading[3]);
    for (std::uint8_t sample : channel.samples) {
        row += ',';
        row += std::to_string(sample);
    }
    row += '\n';
    return row;
}

} // namespace veltrace::link
