// The frame decoder runs once per received byte; it takes no lock (the caller guards the channel
// it writes) and does only a bit test, a dispatch and at most one table lookup with one text
// assignment or one store.
#include "link/decoder.h"

#include <string>

namespace veltrace::link {

namespace {

constexpr std::uint8_t SyncMask = 0x7C;
constexpr std::uint8_t FirstSamplePosition = 5;
constexpr std::uint8_t LastSamplePosition = 133;
constexpr std::uint8_t LastFramePosition = FrameLength - 1; // ReadingFlags completes the frame

struct RangeRow {
    const char* text;
    float voltsPerStep;
};

// Indexed by bits 3..2 of the switches byte; index 3 has no row.
constexpr RangeRow rangeRows[3] = {
    {"1V -> 0.1V/div", 0.015625f},
    {"10V -> 1V/div", 0.15625f},
    {"100V -> 10V/div", 1.5625f},
};

// Indexed by bits 5..4 of the switches byte; index 3 has no row.
constexpr const char* couplingTexts[3] = {"GND ", "AC ", "DC "};

struct TimebaseRow {
    const char* text;
    float timePerSample;
};

constexpr TimebaseRow timebaseRows[10] = {
    {"50ns -> 0.5\xB5s/div", 0.05f},  {"100ns -> 1\xB5s/div", 0.1f},
    {"0.5\xB5s -> 5\xB5s/div", 0.5f}, {"1\xB5s -> 10\xB5s/div", 1.0f},
    {"5\xB5s -> 50\xB5s/div", 5.0f},  {"10\xB5s -> 0.1ms/div", 10.0f},
    {"50\xB5s -> 0.5ms/div", 50.0f},  {"0.1ms -> 1ms/div", 100.0f},
    {"0.5ms -> 5ms/div", 500.0f},     {"1ms -> 10ms/div", 1000.0f},
};

const std::string AutoText = "AUTO";

} // namespace

int decodeFrameByte(FrameDecoder& decoder, std::uint8_t byte, state::ChannelData& channel) {
    // A sync pattern restarts the frame wherever it appears; the device guarantees that no
    // other byte of a frame carries it.
    if ((byte & SyncMask) == SyncMask) {
        decoder.framePosition = 0;
    }
    const std::uint8_t position = decoder.framePosition;
    int result = 0;
    if (position >= FirstSamplePosition && position <= LastSamplePosition) {
        channel.samples[position - FirstSamplePosition] = byte;
    } else {
        switch (position) {
        case 0:
            decoder.head[0] = byte;
            break;
        case 1:
            decoder.head[1] = byte;
            decodeSwitchesByte(byte, channel);
            break;
        case 2:
            decoder.head[2] = byte;
            decodeTimebaseByte(byte, channel);
            break;
        case 3:
            decoder.head[3] = byte;
            decodeTriggerByte(byte, channel);
            decoder.triggerChannel = &channel;
            break;
        case 4:
            decoder.head[4] = byte;
            // The level belongs to the source and run mode set one byte earlier. When the user
            // switched channels between the two, the newly selected channel's text is a whole
            // one from an earlier frame, and appending to it would make it grow frame by frame.
            if (decoder.triggerChannel == &channel) {
                decodeLevelByte(byte, channel);
            }
            break;
        case LastSamplePosition + 1:
        case LastSamplePosition + 2:
        case LastSamplePosition + 3:
            // The device's own reading, which the display does not show.
            decoder.reading[position - LastSamplePosition - 1] = byte;
            break;
        case LastFramePosition:
            decoder.reading[3] = byte;
            result = 1;
            break;
        default:
            // 138..255 wait for the next sync byte.
            break;
        }
    }
    // Eight bits wide on purpose: after 118 ignored bytes the position wraps to 0, so a
    // stream without sync bytes is still cut into frames.
    decoder.framePosition = static_cast<std::uint8_t>(position + 1);
    return result;
}

// Both coupling bits set matches no coupling; the text then starts afresh with the range alone
// (for example "10V -> 1V/div", or empty when the range bits match no row either) instead of
// appending the range to the previous frame's text, which would grow with every such frame.
void decodeSwitchesByte(std::uint8_t byte, state::ChannelData& channel) {
    std::string& text = channel.voltsText;
    const int coupling = (byte >> 4) & 3;
    const int range = (byte >> 2) & 3;
    if (coupling < 3) {
        text = couplingTexts[coupling];
    } else {
        text.clear();
    }
    if (range < 3) {
        text += rangeRows[range].text;
        channel.voltsPerStep = rangeRows[range].voltsPerStep;
    }
}

void decodeTimebaseByte(std::uint8_t byte, state::ChannelData& channel) {
    if (byte > 9) {
        return;
    }
    channel.timebaseText = timebaseRows[byte].text;
    channel.timePerSample = timebaseRows[byte].timePerSample;
}

// The highest source bit wins ("+INT" over "-INT" over "+EXT" over "-EXT"). A byte with bit 1
// or 2 set but no source bit names no source: the text then starts afresh with the run word
// alone ("RUN" or "SINGLE", the level following as usual, e.g. "RUN +0.1") instead of extending
// the previous frame's text, so it can never grow from frame to frame.
void decodeTriggerByte(std::uint8_t byte, state::ChannelData& channel) {
    std::string& text = channel.triggerText;
    if ((byte & 0x7E) == 0) {
        text = AutoText;
        return; // the run mode bit means nothing for the automatic trigger
    }
    if (byte & 0x40) {
        text = "+INT";
    } else if (byte & 0x20) {
        text = "-INT";
    } else if (byte & 0x10) {
        text = "+EXT";
    } else if (byte & 0x08) {
        text = "-EXT";
    } else {
        text = (byte & 0x01) ? "SINGLE" : "RUN";
        return;
    }
    text += (byte & 0x01) ? " SINGLE" : " RUN";
}

// Each set level bit appends its own text, so a byte with two level bits shows two levels; the
// automatic trigger has no level.
void decodeLevelByte(std::uint8_t byte, state::ChannelData& channel) {
    std::string& text = channel.triggerText;
    if (text == AutoText) {
        return;
    }
    if (byte == 0) {
        text += " -0.5";
    }
    if (byte & 0x04) {
        text += " +0.5";
    }
    if (byte & 0x08) {
        text += " +0.3";
    }
    if (byte & 0x10) {
        text += " +0.1";
    }
    if (byte & 0x20) {
        text += " -0.1";
    }
    if (byte & 0x40) {
        text += " -0.3";
    }
}

} // namespace veltrace::link
