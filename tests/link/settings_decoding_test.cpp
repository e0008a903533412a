// The four settings bytes of a frame turned into texts and scale factors.
#include "app/scope_state.h"
#include "link/decoder.h"
#include "simframes/frames.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using veltrace::app::scope;
using veltrace::link::decodeLevelByte;
using veltrace::link::decodeSwitchesByte;
using veltrace::link::decodeTimebaseByte;
using veltrace::link::decodeTriggerByte;

class SettingsDecodingTest : public ::testing::Test {
  protected:
    void SetUp() override { veltrace::app::resetScopeState(); }
    void TearDown() override { veltrace::app::resetScopeState(); }
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
                scope.voltsPerStep[0] = -1.0f;
                decodeSwitchesByte(byte);
                EXPECT_EQ(scope.voltsText[0], std::string(coupling.text) + range.text)
                    << "byte " << int(byte);
                EXPECT_EQ(scope.voltsPerStep[0], range.voltsPerStep) << "byte " << int(byte);
            }
        }
    }
}

TEST_F(SwitchesByteDecoding, WorkedExamples) {
    decodeSwitchesByte(0x24);
    EXPECT_EQ(scope.voltsText[0], "DC 10V -> 1V/div");
    EXPECT_EQ(scope.voltsPerStep[0], 0.15625f);
    decodeSwitchesByte(0x00);
    EXPECT_EQ(scope.voltsText[0], "GND 1V -> 0.1V/div");
    EXPECT_EQ(scope.voltsPerStep[0], 0.015625f);
}

TEST_F(SwitchesByteDecoding, BothRangeBitsKeepVoltsPerStepAndShowCouplingAlone) {
    decodeSwitchesByte(0x18); // AC, 100 V
    decodeSwitchesByte(0x2C);
    EXPECT_EQ(scope.voltsText[0], "DC ");
    EXPECT_EQ(scope.voltsPerStep[0], 1.5625f);
    decodeSwitchesByte(0x0C);
    EXPECT_EQ(scope.voltsText[0], "GND ");
    EXPECT_EQ(scope.voltsPerStep[0], 1.5625f);
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
        decodeTimebaseByte(static_cast<std::uint8_t>(code));
        EXPECT_EQ(scope.timebaseText[0], rows[code].text) << "code " << code;
        EXPECT_EQ(scope.timePerSample[0], rows[code].timePerSample) << "code " << code;
        // The simulator's time axis must agree with what the program shows.
        EXPECT_FLOAT_EQ(static_cast<float>(veltrace::sim::timePerSampleUs(code)),
                        rows[code].timePerSample);
    }
}

TEST_F(TimebaseByteDecoding, CodesAboveNineChangeNothing) {
    decodeTimebaseByte(6);
    for (int code = 10; code < 128; ++code) {
        decodeTimebaseByte(static_cast<std::uint8_t>(code));
        EXPECT_EQ(scope.timebaseText[0], "50\xB5s -> 0.5ms/div") << "code " << code;
        EXPECT_EQ(scope.timePerSample[0], 50.0f) << "code " << code;
    }
}

class TriggerByteDecoding : public SettingsDecodingTest {};

TEST_F(TriggerByteDecoding, EverySourceInBothRunModes) {
    const struct {
        std::uint8_t bit;
        const char* source;
    } rows[] = {{0x08, "-EXT"}, {0x10, "+EXT"}, {0x20, "-INT"}, {0x40, "+INT"}};
    for (const auto& row : rows) {
        decodeTriggerByte(row.bit);
        EXPECT_EQ(scope.triggerText[0], std::string(row.source) + " RUN");
        decodeTriggerByte(row.bit | 0x01);
        EXPECT_EQ(scope.triggerText[0], std::string(row.source) + " SINGLE");
    }
}

TEST_F(TriggerByteDecoding, HighestSourceBitWins) {
    decodeTriggerByte(0x50);
    EXPECT_EQ(scope.triggerText[0], "+INT RUN");
    decodeTriggerByte(0x38);
    EXPECT_EQ(scope.triggerText[0], "-INT RUN");
    decodeTriggerByte(0x19);
    EXPECT_EQ(scope.triggerText[0], "+EXT SINGLE");
    decodeTriggerByte(0x7B); // every source bit, bits 1 and 0 as well
    EXPECT_EQ(scope.triggerText[0], "+INT SINGLE");
}

TEST_F(TriggerByteDecoding, AutoIgnoresRunModeAndLevel) {
    for (std::uint8_t byte : {0x00, 0x01}) {
        decodeTriggerByte(byte);
        EXPECT_EQ(scope.triggerText[0], "AUTO");
        for (std::uint8_t level : {0x00, 0x04, 0x10, 0x7B}) {
            decodeLevelByte(level);
            EXPECT_EQ(scope.triggerText[0], "AUTO") << "level " << int(level);
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
        decodeTriggerByte(0x20);
        decodeLevelByte(row.byte);
        EXPECT_EQ(scope.triggerText[0], std::string("-INT RUN") + row.level);
    }
}

TEST_F(LevelByteDecoding, TwoLevelBitsAppendTwoTexts) {
    decodeTriggerByte(0x40);
    decodeLevelByte(0x0C);
    EXPECT_EQ(scope.triggerText[0], "+INT RUN +0.5 +0.3");
}

TEST_F(LevelByteDecoding, OnlyBitsZeroAndOneAppendNothing) {
    for (std::uint8_t byte : {0x01, 0x02, 0x03}) {
        decodeTriggerByte(0x10);
        decodeLevelByte(byte);
        EXPECT_EQ(scope.triggerText[0], "+EXT RUN") << "level " << int(byte);
    }
}

TEST_F(LevelByteDecoding, WorkedExamples) {
    decodeTriggerByte(0x40);
    EXPECT_EQ(scope.triggerText[0], "+INT RUN"); // what a redraw between the two bytes shows
    decodeLevelByte(0x10);
    EXPECT_EQ(scope.triggerText[0], "+INT RUN +0.1");
    decodeTriggerByte(0x09);
    decodeLevelByte(0x00);
    EXPECT_EQ(scope.triggerText[0], "-EXT SINGLE -0.5");
}

class SettingsDecodingChannels : public SettingsDecodingTest {};

TEST_F(SettingsDecodingChannels, EachDecoderWritesOnlyTheCurrentChannel) {
    scope.currentChannel = 3;
    decodeSwitchesByte(0x24);
    decodeTimebaseByte(9);
    decodeTriggerByte(0x40);
    decodeLevelByte(0x10);
    EXPECT_EQ(scope.voltsText[3], "DC 10V -> 1V/div");
    EXPECT_EQ(scope.timebaseText[3], "1ms -> 10ms/div");
    EXPECT_EQ(scope.triggerText[3], "+INT RUN +0.1");
    for (int c = 0; c < 3; ++c) {
        EXPECT_TRUE(scope.voltsText[c].empty());
        EXPECT_TRUE(scope.timebaseText[c].empty());
        EXPECT_TRUE(scope.triggerText[c].empty());
        EXPECT_EQ(scope.voltsPerStep[c], 0.0f);
        EXPECT_EQ(scope.timePerSample[c], 0.0f);
    }
}

// The two bit combinations without a row start their text afresh; fed frame after frame they
// must show the same text every time instead of growing.
class MendedCombinationsDecoding : public SettingsDecodingTest {};

TEST_F(MendedCombinationsDecoding, BothCouplingBitsShowTheRangeAlone) {
    decodeSwitchesByte(0x24);
    decodeSwitchesByte(0x30 | 0x04);
    EXPECT_EQ(scope.voltsText[0], "10V -> 1V/div");
    EXPECT_EQ(scope.voltsPerStep[0], 0.15625f);
    decodeSwitchesByte(0x30 | 0x08);
    EXPECT_EQ(scope.voltsText[0], "100V -> 10V/div");
    decodeSwitchesByte(0x3C); // no row for either part
    EXPECT_EQ(scope.voltsText[0], "");
    EXPECT_EQ(scope.voltsPerStep[0], 1.5625f);
}

TEST_F(MendedCombinationsDecoding, NoSourceBitShowsTheRunWordAndLevel) {
    decodeTriggerByte(0x40);
    decodeLevelByte(0x10);
    decodeTriggerByte(0x02);
    EXPECT_EQ(scope.triggerText[0], "RUN");
    decodeLevelByte(0x10);
    EXPECT_EQ(scope.triggerText[0], "RUN +0.1");
    decodeTriggerByte(0x05);
    decodeLevelByte(0x00);
    EXPECT_EQ(scope.triggerText[0], "SINGLE -0.5");
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
    for (std::uint8_t byte : stream) {
        reports += veltrace::link::decodeFrameByte(byte);
        longestVolts = std::max(longestVolts, scope.voltsText[0].size());
        if (reports >= 1) {
            longestTrigger = std::max(longestTrigger, scope.triggerText[0].size());
        }
    }
    EXPECT_EQ(reports, 101u);
    EXPECT_EQ(longestVolts, std::string("DC 10V -> 1V/div").size());
    EXPECT_EQ(longestTrigger, std::string("SINGLE +0.5 +0.3").size());
    // The last frame: switches 0x3C, trigger 0x07 (bits 1 and 2, single), level bits 2 and 3.
    EXPECT_EQ(scope.voltsText[0], "");
    EXPECT_EQ(scope.triggerText[0], "SINGLE +0.5 +0.3");
}

} // namespace
