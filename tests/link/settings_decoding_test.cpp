// The four settings bytes of a frame turned into texts and scale factors.
#include "link/decoder.h"
#include "simframes/frames.h"
#include "state/scope_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The channel that is current, as the acquisition thread hands it to the decoder.
veltrace::state::ChannelData& current() {
    return veltrace::state::scope.channel[veltrace::state::scope.currentChannel & 3];
}

using veltrace::link::decodeLevelByte;
using veltrace::link::decodeSwitchesByte;
using veltrace::link::decodeTimebaseByte;
using veltrace::link::decodeTriggerByte;
using veltrace::state::scope;

class SettingsDecodingTest : public ::testing::Test {
  protected:
    void SetUp() override { veltrace::state::resetScopeState(); }
    void TearDown() override { veltrace::state::resetScopeState(); }
};

class SwitchesByteDecoding : public SettingsDecodingTest {};

TEST_F(SwitchesByteDecoding, EveryCouplingAndRangeRow) {
    const struct {
        std::uint8_t bits;
        const char* text;
    } couplings[] = {{0x00, "GND "}, {0x10, "AC "}, {0x20, "DC "}};
    const struct {
        std::uint8_t bits;
        const char* text;
        float voltsPerStep;
    } ranges[] = {{0x00, "1V -> 0.1V/div", 0.015625f},
                  {0x04, "10V -> 1V/div", 0.15625f},
                  {0x08, "100V -> 10V/div", 1.5625f}};
    for (const auto& coupling : couplings) {
        for (const auto& range : ranges) {
            // Bits 0, 1 and 6 are not examined.
            for (std::uint8_t extra : {0x00, 0x01, 0x02, 0x40, 0x43}) {
                const std::uint8_t byte = coupling.bits | range.bits | extra;
                scope.channel[0].voltsPerStep = -1.0f;
                decodeSwitchesByte(byte, current());
                EXPECT_EQ(scope.channel[0].voltsText, std::string(coupling.text) + range.text)
                    << "byte " << int(byte);
                EXPECT_EQ(scope.channel[0].voltsPerStep, range.voltsPerStep)
                    << "byte " << int(byte);
            }
        }
    }
}

TEST_F(SwitchesByteDecoding, WorkedExamples) {
    decodeSwitchesByte(0x24, current());
    EXPECT_EQ(scope.channel[0].voltsText, "DC 10V -> 1V/div");
    EXPECT_EQ(scope.channel[0].voltsPerStep, 0.15625f);
    decodeSwitchesByte(0x00, current());
    EXPECT_EQ(scope.channel[0].voltsText, "GND 1V -> 0.1V/div");
    EXPECT_EQ(scope.channel[0].voltsPerStep, 0.015625f);
}

TEST_F(SwitchesByteDecoding, BothRangeBitsKeepVoltsPerStepAndShowCouplingAlone) {
    decodeSwitchesByte(0x18, current()); // AC, 100 V
    decodeSwitchesByte(0x2C, current());
    EXPECT_EQ(scope.channel[0].voltsText, "DC ");
    EXPECT_EQ(scope.channel[0].voltsPerStep, 1.5625f);
    decodeSwitchesByte(0x0C, current());
    EXPECT_EQ(scope.channel[0].voltsText, "GND ");
    EXPECT_EQ(scope.channel[0].voltsPerStep, 1.5625f);
}

class TimebaseByteDecoding : public SettingsDecodingTest {};

TEST_F(TimebaseByteDecoding, EveryCode) {
    const struct {
        const char* text;
        float timePerSample;
    } rows[] = {
        {"50ns -> 0.5\xB5s/div", 0.05f},  {"100ns -> 1\xB5s/div", 0.1f},
        {"0.5\xB5s -> 5\xB5s/div", 0.5f}, {"1\xB5s -> 10\xB5s/div", 1.0f},
        {"5\xB5s -> 50\xB5s/div", 5.0f},  {"10\xB5s -> 0.1ms/div", 10.0f},
        {"50\xB5s -> 0.5ms/div", 50.0f},  {"0.1ms -> 1ms/div", 100.0f},
        {"0.5ms -> 5ms/div", 500.0f},     {"1ms -> 10ms/div", 1000.0f},
    };
    for (int code = 0; code < 10; ++code) {
        decodeTimebaseByte(static_cast<std::uint8_t>(code), current());
        EXPECT_EQ(scope.channel[0].timebaseText, rows[code].text) << "code " << code;
        EXPECT_EQ(scope.channel[0].timePerSample, rows[code].timePerSample) << "code " << code;
        // The simulator's time axis must agree with what the program shows.
        EXPECT_FLOAT_EQ(static_cast<float>(veltrace::sim::timePerSampleUs(code)),
                        rows[code].timePerSample);
    }
}

TEST_F(TimebaseByteDecoding, CodesAboveNineChangeNothing) {
    decodeTimebaseByte(6, current());
    for (int code = 10; code < 128; ++code) {
        decodeTimebaseByte(static_cast<std::uint8_t>(code), current());
        EXPECT_EQ(scope.channel[0].timebaseText, "50\xB5s -> 0.5ms/div") << "code " << code;
        EXPECT_EQ(scope.channel[0].timePerSample, 50.0f) << "code " << code;
    }
}

class TriggerByteDecoding : public SettingsDecodingTest {};

TEST_F(TriggerByteDecoding, EverySourceInBothRunModes) {
    const struct {
        std::uint8_t bit;
        const char* source;
    } rows[] = {{0x08, "-EXT"}, {0x10, "+EXT"}, {0x20, "-INT"}, {0x40, "+INT"}};
    for (const auto& row : rows) {
        decodeTriggerByte(row.bit, current());
        EXPECT_EQ(scope.channel[0].triggerText, std::string(row.source) + " RUN");
        decodeTriggerByte(row.bit | 0x01, current());
        EXPECT_EQ(scope.channel[0].triggerText, std::string(row.source) + " SINGLE");
    }
}

TEST_F(TriggerByteDecoding, HighestSourceBitWins) {
    decodeTriggerByte(0x50, current());
    EXPECT_EQ(scope.channel[0].triggerText, "+INT RUN");
    decodeTriggerByte(0x38, current());
    EXPECT_EQ(scope.channel[0].triggerText, "-INT RUN");
    decodeTriggerByte(0x19, current());
    EXPECT_EQ(scope.channel[0].triggerText, "+EXT SINGLE");
    decodeTriggerByte(0x7B, current()); // every source bit, bits 1 and 0 as well
    EXPECT_EQ(scope.channel[0].triggerText, "+INT SINGLE");
}

TEST_F(TriggerByteDecoding, AutoIgnoresRunModeAndLevel) {
    for (std::uint8_t byte : {0x00, 0x01}) {
        decodeTriggerByte(byte, current());
        EXPECT_EQ(scope.channel[0].triggerText, "AUTO");
        for (std::uint8_t level : {0x00, 0x04, 0x10, 0x7B}) {
            decodeLevelByte(level, current());
            EXPECT_EQ(scope.channel[0].triggerText, "AUTO") << "level " << int(level);
        }
    }
}

class LevelByteDecoding : public SettingsDecodingTest {};

TEST_F(LevelByteDecoding, EveryLevelRow) {
    const struct {
        std::uint8_t byte;
        const char* level;
    } rows[] = {{0x00, " -0.5"}, {0x04, " +0.5"}, {0x08, " +0.3"},
                {0x10, " +0.1"}, {0x20, " -0.1"}, {0x40, " -0.3"}};
    for (const auto& row : rows) {
        decodeTriggerByte(0x20, current());
        decodeLevelByte(row.byte, current());
        EXPECT_EQ(scope.channel[0].triggerText, std::string("-INT RUN") + row.level);
    }
}

TEST_F(LevelByteDecoding, TwoLevelBitsAppendTwoTexts) {
    decodeTriggerByte(0x40, current());
    decodeLevelByte(0x0C, current());
    EXPECT_EQ(scope.channel[0].triggerText, "+INT RUN +0.5 +0.3");
}

TEST_F(LevelByteDecoding, OnlyBitsZeroAndOneAppendNothing) {
    for (std::uint8_t byte : {0x01, 0x02, 0x03}) {
        decodeTriggerByte(0x10, current());
        decodeLevelByte(byte, current());
        EXPECT_EQ(scope.channel[0].triggerText, "+EXT RUN") << "level " << int(byte);
    }
}

TEST_F(LevelByteDecoding, WorkedExamples) {
    decodeTriggerByte(0x40, current());
    EXPECT_EQ(scope.channel[0].triggerText,
              "+INT RUN"); // what a redraw between the two bytes shows
    decodeLevelByte(0x10, current());
    EXPECT_EQ(scope.channel[0].triggerText, "+INT RUN +0.1");
    decodeTriggerByte(0x09, current());
    decodeLevelByte(0x00, current());
    EXPECT_EQ(scope.channel[0].triggerText, "-EXT SINGLE -0.5");
}

class SettingsDecodingChannels : public SettingsDecodingTest {};

TEST_F(SettingsDecodingChannels, EachDecoderWritesOnlyTheCurrentChannel) {
    scope.currentChannel = 3;
    decodeSwitchesByte(0x24, current());
    decodeTimebaseByte(9, current());
    decodeTriggerByte(0x40, current());
    decodeLevelByte(0x10, current());
    EXPECT_EQ(scope.channel[3].voltsText, "DC 10V -> 1V/div");
    EXPECT_EQ(scope.channel[3].timebaseText, "1ms -> 10ms/div");
    EXPECT_EQ(scope.channel[3].triggerText, "+INT RUN +0.1");
    for (int c = 0; c < 3; ++c) {
        EXPECT_TRUE(scope.channel[c].voltsText.empty());
        EXPECT_TRUE(scope.channel[c].timebaseText.empty());
        EXPECT_TRUE(scope.channel[c].triggerText.empty());
        EXPECT_EQ(scope.channel[c].voltsPerStep, 0.0f);
        EXPECT_EQ(scope.channel[c].timePerSample, 0.0f);
    }
}

// The two bit combinations without a row start their text afresh; fed frame after frame they
// must show the same text every time instead of growing.
class MendedCombinationsDecoding : public SettingsDecodingTest {};

TEST_F(MendedCombinationsDecoding, BothCouplingBitsShowTheRangeAlone) {
    decodeSwitchesByte(0x24, current());
    decodeSwitchesByte(0x30 | 0x04, current());
    EXPECT_EQ(scope.channel[0].voltsText, "10V -> 1V/div");
    EXPECT_EQ(scope.channel[0].voltsPerStep, 0.15625f);
    decodeSwitchesByte(0x30 | 0x08, current());
    EXPECT_EQ(scope.channel[0].voltsText, "100V -> 10V/div");
    decodeSwitchesByte(0x3C, current()); // no row for either part
    EXPECT_EQ(scope.channel[0].voltsText, "");
    EXPECT_EQ(scope.channel[0].voltsPerStep, 1.5625f);
}

TEST_F(MendedCombinationsDecoding, NoSourceBitShowsTheRunWordAndLevel) {
    decodeTriggerByte(0x40, current());
    decodeLevelByte(0x10, current());
    decodeTriggerByte(0x02, current());
    EXPECT_EQ(scope.channel[0].triggerText, "RUN");
    decodeLevelByte(0x10, current());
    EXPECT_EQ(scope.channel[0].triggerText, "RUN +0.1");
    decodeTriggerByte(0x05, current());
    decodeLevelByte(0x00, current());
    EXPECT_EQ(scope.channel[0].triggerText, "SINGLE -0.5");
}

TEST_F(MendedCombinationsDecoding, TextsNeverGrowOverAHundredFrames) {
    namespace sim = veltrace::sim;
    std::vector<std::uint8_t> stream =
        sim::buildFrame({0x24, 6, 0x40, 0x10}, sim::FrameSamplesArray{}); // a normal frame first
    const std::uint8_t switches[] = {0x30, 0x34, 0x38, 0x3C};
    const std::uint8_t triggers[] = {0x02, 0x04, 0x06, 0x03, 0x07};
    for (int frame = 0; frame < 100; ++frame) {
        const auto next = sim::buildFrame({switches[frame % 4], 3, triggers[frame % 5], 0x0C},
                                          sim::FrameSamplesArray{});
        stream.insert(stream.end(), next.begin(), next.end());
    }
    std::size_t longestVolts = 0, longestTrigger = 0, reports = 0;
    veltrace::link::FrameDecoder decoder;
    for (std::uint8_t byte : stream) {
        reports += veltrace::link::decodeFrameByte(decoder, byte, current());
        longestVolts = std::max(longestVolts, scope.channel[0].voltsText.size());
        if (reports >= 1) {
            longestTrigger = std::max(longestTrigger, scope.channel[0].triggerText.size());
        }
    }
    EXPECT_EQ(reports, 101u);
    EXPECT_EQ(longestVolts, std::string("DC 10V -> 1V/div").size());
    EXPECT_EQ(longestTrigger, std::string("SINGLE +0.5 +0.3").size());
    // The last frame: switches 0x3C, trigger 0x07 (bits 1 and 2, single), level bits 2 and 3.
    EXPECT_EQ(scope.channel[0].voltsText, "");
    EXPECT_EQ(scope.channel[0].triggerText, "SINGLE +0.5 +0.3");
}

} // namespace
