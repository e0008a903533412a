// The frame decoder on arbitrary byte streams. Bytes with bit 7 set never come over the 7-bit
// line; here they stand for a click on a channel option (bits 0..1 name the channel), so the
// fuzzer also switches the receiving channel at any point of a frame.
//
// After every byte: the decoder reports a frame exactly when the byte stood at position 137 of
// an independent model of the positions; a sample byte is in its slot of the selected channel;
// every text is one the tables can make (so nothing grows). At every switch and at the end: each
// channel holds exactly what the bytes sent to it wrote.
#include "link/decoder.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

using veltrace::link::FrameDecoder;
using veltrace::state::ChannelData;

[[noreturn]] void fail(const char* what, std::size_t at) {
    std::fprintf(stderr, "decoder_fuzz: %s (input byte %zu)\n", what, at);
    std::abort();
}

const std::set<std::string>& voltsTexts() {
    static const std::set<std::string> texts = [] {
        std::set<std::string> all;
        for (const char* coupling : {"", "GND ", "AC ", "DC "}) {
            for (const char* range : {"", "1V -> 0.1V/div", "10V -> 1V/div", "100V -> 10V/div"}) {
                all.insert(std::string(coupling) + range);
            }
        }
        return all;
    }();
    return texts;
}

const std::set<std::string>& timebaseTexts() {
    static const std::set<std::string> texts = {"",
                                                "50ns -> 0.5\xB5s/div",
                                                "100ns -> 1\xB5s/div",
                                                "0.5\xB5s -> 5\xB5s/div",
                                                "1\xB5s -> 10\xB5s/div",
                                                "5\xB5s -> 50\xB5s/div",
                                                "10\xB5s -> 0.1ms/div",
                                                "50\xB5s -> 0.5ms/div",
                                                "0.1ms -> 1ms/div",
                                                "0.5ms -> 5ms/div",
                                                "1ms -> 10ms/div"};
    return texts;
}

bool startsWith(const std::string& text, std::size_t at, const char* part) {
    return text.compare(at, std::char_traits<char>::length(part), part) == 0;
}

// "", "AUTO", or an optional source with its blank, the run mode, then the levels in the order
// the level byte's bits append them, each at most once.
bool validTrigger(const std::string& text) {
    if (text.empty() || text == "AUTO") {
        return true;
    }
    std::size_t at = 0;
    for (const char* source : {"+INT ", "-INT ", "+EXT ", "-EXT "}) {
        if (startsWith(text, 0, source)) {
            at = 5;
            break;
        }
    }
    if (startsWith(text, at, "RUN")) {
        at += 3;
    } else if (startsWith(text, at, "SINGLE")) {
        at += 6;
    } else {
        return false;
    }
    for (const char* level : {" -0.5", " +0.5", " +0.3", " +0.1", " -0.1", " -0.3"}) {
        if (startsWith(text, at, level)) {
            at += 5;
        }
    }
    return at == text.size();
}

bool validVoltsPerStep(float value) {
    return value == 0.0f || value == 0.015625f || value == 0.15625f || value == 1.5625f;
}

bool validTimePerSample(float value) {
    for (float allowed :
         {0.0f, 0.05f, 0.1f, 0.5f, 1.0f, 5.0f, 10.0f, 50.0f, 100.0f, 500.0f, 1000.0f}) {
        if (value == allowed) {
            return true;
        }
    }
    return false;
}

bool same(const ChannelData& a, const ChannelData& b) {
    return a.samples == b.samples && a.timebaseText == b.timebaseText &&
           a.triggerText == b.triggerText && a.voltsText == b.voltsText &&
           a.timePerSample == b.timePerSample && a.voltsPerStep == b.voltsPerStep;
}

// Every channel compared with the model: its samples, and its texts and scale factors as they
// stood when it was last the selected one. Run at every channel switch and at the end, which
// catches a write into another channel as surely as a comparison after every byte would, and
// costs far less.
void compareWithModel(const std::array<ChannelData, 4>& channels,
                      const std::array<ChannelData, 4>& model, std::size_t at) {
    for (int c = 0; c < 4; ++c) {
        if (!same(channels[c], model[c])) {
            fail("a channel holds what no byte sent to it wrote", at);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FrameDecoder decoder;
    std::array<ChannelData, 4> channels{};
    std::array<ChannelData, 4> model{}; // what each channel must hold
    int current = 0;
    std::uint8_t modelPosition = 0; // where the next byte stands in the model
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if ((byte & 0x80) != 0) {
            compareWithModel(channels, model, i);
            current = byte & 3;
            continue;
        }
        const std::uint8_t position = (byte & 0x7C) == 0x7C ? 0 : modelPosition;
        const int reported = veltrace::link::decodeFrameByte(decoder, byte, channels[current]);
        if (reported != (position == 137 ? 1 : 0)) {
            fail("a frame was reported away from its last position, or not at it", i);
        }
        modelPosition = static_cast<std::uint8_t>(position + 1);
        if (decoder.framePosition != modelPosition) {
            fail("the decoder's position left the model's", i);
        }
        ChannelData& now = channels[current];
        ChannelData& expected = model[current];
        if (position >= 5 && position <= 133) {
            expected.samples[position - 5u] = byte;
            if (now.samples[position - 5u] != byte) {
                fail("a sample did not land in its slot", i);
            }
        }
        if (voltsTexts().count(now.voltsText) == 0 ||
            timebaseTexts().count(now.timebaseText) == 0 || !validTrigger(now.triggerText)) {
            fail("a text that no table makes (or one that grew)", i);
        }
        if (!validVoltsPerStep(now.voltsPerStep) || !validTimePerSample(now.timePerSample)) {
            fail("a scale factor that no table makes", i);
        }
        // Settings bytes may change the selected channel's texts; the model follows them, and
        // its samples stay the model's own.
        expected.timebaseText = now.timebaseText;
        expected.triggerText = now.triggerText;
        expected.voltsText = now.voltsText;
        expected.timePerSample = now.timePerSample;
        expected.voltsPerStep = now.voltsPerStep;
    }
    compareWithModel(channels, model, size);
    return 0;
}
