// The frame log's pure parts: which reported frames count as whole, the device's reading and its
// mark, and a frame as a CSV row.
#include "link/decoder.h"
#include "link/frame_log.h"
#include "simframes/frames.h"
#include "state/scope_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

namespace veltrace::link {
namespace {

using Bytes = std::vector<std::uint8_t>;

sim::FrameSamplesArray rampSamples() {
    sim::FrameSamplesArray samples{};
    for (int i = 0; i < sim::FrameSamples; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((i * 3) % 124);
    }
    return samples;
}

const sim::FrameSettings dc10{sim::switchesByte(sim::Coupling::Dc, sim::Range::V10), 6,
                              sim::triggerByte(sim::Source::IntPlus, false),
                              sim::levelByte(sim::Level::P01)};

// Decodes the bytes with a fresh decoder; the state after the last reported frame.
struct Decoded {
    FrameDecoder decoder;
    state::ChannelData channel;
    int frames = 0;
};

Decoded decode(const Bytes& bytes) {
    Decoded d;
    for (std::uint8_t b : bytes) {
        d.frames += decodeFrameByte(d.decoder, b, d.channel);
    }
    return d;
}

std::vector<std::string> splitCsv(const std::string& row) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(row.substr(0, row.find('\n')));
    while (std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    return fields;
}

// ---- The decoder's own record of a frame ----------------------------------------------------

TEST(FrameDecoderRecord, KeepsTheSyncSettingsAndReadingBytesOfTheFrame) {
    const Bytes frame = sim::buildFrame(dc10, rampSamples(), 0x7E, {3, 0, 7, 0x11});
    const Decoded d = decode(frame);
    ASSERT_EQ(d.frames, 1);
    EXPECT_EQ(d.decoder.head, (std::array<std::uint8_t, 5>{0x7E, dc10.switches, dc10.timebase,
                                                           dc10.trigger, dc10.level}));
    EXPECT_EQ(d.decoder.reading, (std::array<std::uint8_t, 4>{3, 0, 7, 0x11}));
    // The channel holds the samples and texts only, as before.
    EXPECT_EQ(d.channel.samples[128], rampSamples()[128]);
    EXPECT_EQ(d.channel.voltsText, "DC 10V -> 1V/div");
}

// ---- Whole frames ----------------------------------------------------------------------------

// A decoded clean frame with one byte of it (position `at`) replaced.
Decoded withByte(int at, std::uint8_t value) {
    Bytes frame = sim::buildFrame(dc10, rampSamples(), 0x7C, {1, 2, 3, 0});
    frame[static_cast<std::size_t>(at)] = value;
    return decode(frame);
}

TEST(WholeFrames, ACleanFrameOfEverySettingIsWhole) {
    int checked = 0;
    for (auto coupling : {sim::Coupling::Gnd, sim::Coupling::Ac, sim::Coupling::Dc}) {
        for (auto range : {sim::Range::V1, sim::Range::V10, sim::Range::V100}) {
            for (int timebase = 0; timebase <= 9; ++timebase) {
                for (auto source : {sim::Source::Auto, sim::Source::ExtMinus, sim::Source::ExtPlus,
                                    sim::Source::IntMinus, sim::Source::IntPlus}) {
                    for (auto level : {sim::Level::M05, sim::Level::P05, sim::Level::P03,
                                       sim::Level::P01, sim::Level::M01, sim::Level::M03}) {
                        const sim::FrameSettings settings{
                            sim::switchesByte(coupling, range), static_cast<std::uint8_t>(timebase),
                            sim::triggerByte(source, timebase % 2 == 1), sim::levelByte(level)};
                        const Decoded d =
                            decode(sim::buildFrame(settings, rampSamples(), 0x7F, {9, 9, 9, 0x12}));
                        ASSERT_EQ(d.frames, 1);
                        EXPECT_TRUE(frameIsWhole(d.decoder, d.channel))
                            << int(settings.switches) << " " << timebase << " "
                            << int(settings.trigger) << " " << int(settings.level);
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_EQ(checked, 3 * 3 * 10 * 5 * 6);
}

TEST(WholeFrames, EachKindOfDamageIsNotWhole) {
    struct Case {
        const char* what;
        int at;
        std::uint8_t value;
    };
    const Case cases[] = {
        {"first byte not a sync byte (fresh decoder, or a wrapped position)", 0, 0x00},
        {"a sample with the eighth bit", 70, 0x85},
        {"a reading digit with the eighth bit", 135, 0x81},
        {"both coupling bits", 1, 0x34},
        {"both range bits", 1, 0x2C},
        {"timebase code 10", 2, 10},
        {"two trigger sources", 3, 0x50},
        {"trigger bit 1 without a source", 3, 0x02},
        {"a source without a level", 4, 0x01},
        {"a source with two levels", 4, 0x0C},
        {"flags bit 2", 137, 0x04},
        {"flags bit 6", 137, 0x40},
        {"high and low at once", 137, 0x03},
    };
    for (const Case& c : cases) {
        const Decoded d = withByte(c.at, c.value);
        ASSERT_EQ(d.frames, 1) << c.what;
        EXPECT_FALSE(frameIsWhole(d.decoder, d.channel)) << c.what;
    }
}

TEST(WholeFrames, WhatTheDecoderDoesNotLookAtAndDigitsOverNineStayWhole) {
    EXPECT_TRUE(frameIsWhole(withByte(1, 0x24 | 0x43).decoder, withByte(1, 0x24 | 0x43).channel))
        << "switches bits 0, 1 and 6";
    EXPECT_TRUE(frameIsWhole(withByte(4, 0x13).decoder, withByte(4, 0x13).channel))
        << "level bits 0 and 1 beside a level";
    EXPECT_TRUE(frameIsWhole(withByte(135, 12).decoder, withByte(135, 12).channel))
        << "a digit over 9";
    // The automatic trigger takes any level byte.
    Bytes automatic = sim::buildFrame(
        {dc10.switches, 6, sim::triggerByte(sim::Source::Auto, true), 0x0F}, rampSamples());
    const Decoded d = decode(automatic);
    EXPECT_TRUE(frameIsWhole(d.decoder, d.channel));
}

TEST(WholeFrames, AFrameLosingAByteIsNeverReportedAndALostSyncByteIsCaught) {
    const Bytes a = sim::buildFrame(dc10, rampSamples());
    Bytes stream;
    // Frame 1 loses a sample: the next sync byte restarts at position 137, no report.
    stream.insert(stream.end(), a.begin(), a.begin() + 50);
    stream.insert(stream.end(), a.begin() + 51, a.end());
    // Frame 2 whole.
    stream.insert(stream.end(), a.begin(), a.end());
    // Frames 3 and 4 lose their sync bytes: the position wraps round inside frame 4 and the
    // report that follows starts at a wrong place.
    stream.insert(stream.end(), a.begin() + 1, a.end());
    stream.insert(stream.end(), a.begin() + 1, a.end());
    stream.insert(stream.end(), a.begin() + 1, a.end());
    FrameDecoder decoder;
    state::ChannelData channel;
    std::vector<bool> verdicts;
    for (std::uint8_t b : stream) {
        if (decodeFrameByte(decoder, b, channel) == 1) {
            verdicts.push_back(frameIsWhole(decoder, channel));
        }
    }
    ASSERT_GE(verdicts.size(), 2u);
    EXPECT_TRUE(verdicts[0]); // frame 2
    for (std::size_t i = 1; i < verdicts.size(); ++i) {
        EXPECT_FALSE(verdicts[i]) << "report " << i;
    }
}

// ---- The reading ---------------------------------------------------------------------------

TEST(DeviceReading, ScaledByTheRangeSignedAndMarked) {
    const std::uint8_t v1 = sim::switchesByte(sim::Coupling::Dc, sim::Range::V1);
    const std::uint8_t v10 = sim::switchesByte(sim::Coupling::Ac, sim::Range::V10);
    const std::uint8_t v100 = sim::switchesByte(sim::Coupling::Gnd, sim::Range::V100);
    EXPECT_EQ(readingText({1, 2, 3, 0}, v1), "1.23");
    EXPECT_EQ(readingText({1, 2, 3, 0}, v10), "12.3");
    EXPECT_EQ(readingText({1, 2, 3, 0}, v100), "123");
    EXPECT_EQ(readingText({0, 0, 5, 0x10}, v1), "-0.05");
    EXPECT_EQ(readingText({0, 4, 0, 0x10}, v10), "-4.0");
    EXPECT_EQ(readingText({9, 9, 9, 0x13}, v100), "-999");
    EXPECT_EQ(readingText({0, 0, 0, 0x10}, v1), "0.00") << "zero has no sign";
    EXPECT_EQ(readingText({0, 10, 0, 0}, v1), "") << "a digit over 9";
    EXPECT_EQ(readingText({1, 2, 3, 0}, 0x2C), "") << "no range";

    EXPECT_EQ(readingMark(0x01), "high");
    EXPECT_EQ(readingMark(0x12), "low");
    EXPECT_EQ(readingMark(0x10), "");
    EXPECT_EQ(readingMark(0x03), "high");
}

// ---- CSV -----------------------------------------------------------------------------------

class CsvRows : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        savedTz_ = tz != nullptr ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            setenv("TZ", savedTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    std::string savedTz_;
    bool hadTz_ = false;
};

TEST_F(CsvRows, LocalTimeInIsoWithMilliseconds) {
    EXPECT_EQ(localIsoTime(0), "1970-01-01T00:00:00.000");
    EXPECT_EQ(localIsoTime(1796677565123456), "2026-12-07T21:06:05.123");
    EXPECT_EQ(localIsoTime(-1), "1969-12-31T23:59:59.999");
}

TEST_F(CsvRows, HeaderNamesEveryColumnInOrder) {
    const std::vector<std::string> columns = splitCsv(csvHeader());
    ASSERT_EQ(columns.size(), 9u + 129u);
    EXPECT_EQ(columns[0], "time");
    EXPECT_EQ(columns[8], "reading_mark");
    EXPECT_EQ(columns[9], "s0");
    EXPECT_EQ(columns[137], "s128");
    EXPECT_EQ(csvHeader().back(), '\n');
}

TEST_F(CsvRows, ARowCarriesTheDecodedFrameInUtf8) {
    const Decoded d = decode(sim::buildFrame(dc10, rampSamples(), 0x7C, {0, 4, 2, 0x12}));
    const std::string row = csvRow(1796677565123456, 7, d.decoder, d.channel);
    ASSERT_EQ(row.back(), '\n');
    const std::vector<std::string> f = splitCsv(row);
    ASSERT_EQ(f.size(), 9u + 129u);
    EXPECT_EQ(f[0], "2026-12-07T21:06:05.123");
    EXPECT_EQ(f[1], "7");
    EXPECT_EQ(f[2], "DC 10V -> 1V/div");
    EXPECT_EQ(f[3], "1");
    EXPECT_EQ(f[4], "50\xC2\xB5s -> 0.5ms/div");
    EXPECT_EQ(f[5], "50");
    EXPECT_EQ(f[6], "+INT RUN +0.1");
    EXPECT_EQ(f[7], "-4.2"); // bit 4 of the flags
    EXPECT_EQ(f[8], "low");
    for (int i = 0; i < 129; ++i) {
        EXPECT_EQ(f[static_cast<std::size_t>(9 + i)],
                  std::to_string(rampSamples()[static_cast<std::size_t>(i)]));
    }

    // The smallest timebase and range come out as plain numbers too.
    const Decoded small = decode(sim::buildFrame(
        {sim::switchesByte(sim::Coupling::Gnd, sim::Range::V1), 0, 0, 0}, rampSamples()));
    const std::vector<std::string> g = splitCsv(csvRow(0, 1, small.decoder, small.channel));
    EXPECT_EQ(g[3], "0.1");
    EXPECT_EQ(g[5], "0.05");
    EXPECT_EQ(g[6], "AUTO");
    EXPECT_EQ(g[7], "0.00");
    EXPECT_EQ(g[8], "");
}

TEST_F(CsvRows, TextsWithCommasOrQuotesAreQuoted) {
    Decoded d = decode(sim::buildFrame(dc10, rampSamples()));
    d.channel.voltsText = "a,\"b\"";
    const std::string row = csvRow(0, 1, d.decoder, d.channel);
    EXPECT_NE(row.find(",\"a,\"\"b\"\"\","), std::string::npos) << row;
    EXPECT_EQ(latin1ToUtf8("\xB5s"), "\xC2\xB5s");
}

} // namespace
} // namespace veltrace::link
