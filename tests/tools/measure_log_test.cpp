// veltrace-log's measurement columns: where they stand, that the columns before them do not
// change, their values for frames of known shape and the empty fields where a frame has no
// value, and the plain decimal numbers they are written in.
#include "link/frame_log.h"
#include "log/frame_logger.h"
#include "simframes/frames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace veltrace::logtool {
namespace {

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, ',')) {
        fields.push_back(field);
    }
    if (!line.empty() && line.back() == ',') {
        fields.emplace_back();
    }
    return fields;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::uint8_t> frameOf(sim::Waveform waveform, sim::Range range,
                                  std::array<std::uint8_t, 4> reading) {
    sim::WaveShape shape;
    shape.waveform = waveform;
    shape.frequencyHz = 2000.0;
    shape.amplitude = waveform == sim::Waveform::Flat ? 0 : 20;
    shape.offset = 32;
    std::uint32_t noise = 1;
    const auto samples = sim::sampleWaveform(shape, 10.0, 0.0, noise);
    return sim::buildFrame({sim::switchesByte(sim::Coupling::Dc, range), 5, 0, 0}, samples, 0x7C,
                           reading);
}

const std::vector<std::string> MeasureNames = {
    "v_pp",        "v_amplitude",  "v_ac_rms", "frequency_hz", "period_s", "width_pos_s",
    "width_neg_s", "duty_percent", "rise_s",   "fall_s",       "reading_v"};

TEST(LogMeasure, ColumnsFollowTheSamplesAndTheColumnsBeforeThemAreUnchanged) {
    const std::string plainHeader = csvHeader(false);
    const std::string header = csvHeader(true);
    EXPECT_EQ(plainHeader, link::csvHeader());
    const auto plainNames = fieldsOf(linesOf(plainHeader)[0]);
    const auto names = fieldsOf(linesOf(header)[0]);
    ASSERT_EQ(names.size(), plainNames.size() + MeasureNames.size());
    EXPECT_TRUE(std::equal(plainNames.begin(), plainNames.end(), names.begin()));
    EXPECT_TRUE(std::equal(MeasureNames.begin(), MeasureNames.end(),
                           names.begin() + static_cast<std::ptrdiff_t>(plainNames.size())));

    std::vector<std::uint8_t> stream =
        frameOf(sim::Waveform::Square, sim::Range::V10, {1, 2, 3, 0x10});
    const auto flat = frameOf(sim::Waveform::Flat, sim::Range::V1, {0, 4, 2, 0});
    stream.insert(stream.end(), flat.begin(), flat.end());
    const std::int64_t t0 = 1768471200LL * 1000000;
    std::string plain;
    std::string measured;
    FrameLogger plainLogger({});
    LoggerOptions options;
    options.measure = true;
    FrameLogger measuringLogger(options);
    plainLogger.feed(stream, t0, plain);
    measuringLogger.feed(stream, t0, measured);
    const auto plainRows = linesOf(plain);
    const auto rows = linesOf(measured);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(plainRows.size(), 2u);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].substr(0, plainRows[r].size() + 1), plainRows[r] + ",") << r;
        EXPECT_EQ(fieldsOf(rows[r]).size(), names.size()) << r;
    }

    // The square: 40 steps of 0.15625 V, 2 kHz, half the period high; the reading -12.3 V.
    const auto square = fieldsOf(rows[0]);
    const auto field = [&](const std::vector<std::string>& row, const std::string& name) {
        const auto at = std::find(names.begin(), names.end(), name) - names.begin();
        return row[static_cast<std::size_t>(at)];
    };
    EXPECT_EQ(field(square, "v_pp"), "6.25");
    EXPECT_EQ(field(square, "v_amplitude"), "6.25");
    EXPECT_NEAR(std::strtod(field(square, "v_ac_rms").c_str(), nullptr), 3.125, 0.03 * 3.125);
    EXPECT_NEAR(std::strtod(field(square, "frequency_hz").c_str(), nullptr), 2000.0, 30.0);
    EXPECT_NEAR(std::strtod(field(square, "period_s").c_str(), nullptr), 0.0005, 0.0000075);
    EXPECT_NEAR(std::strtod(field(square, "duty_percent").c_str(), nullptr), 50.0, 2.0);
    EXPECT_NEAR(std::strtod(field(square, "width_pos_s").c_str(), nullptr), 0.00025, 0.00001);
    EXPECT_NE(field(square, "rise_s"), "");
    EXPECT_EQ(field(square, "reading_v"), "-12.3");

    // The flat trace: heights of 0, no times; the reading 0.42 V.
    const auto still = fieldsOf(rows[1]);
    EXPECT_EQ(field(still, "v_pp"), "0");
    EXPECT_EQ(field(still, "v_ac_rms"), "0");
    for (const char* name : {"frequency_hz", "period_s", "width_pos_s", "width_neg_s",
                             "duty_percent", "rise_s", "fall_s"}) {
        EXPECT_EQ(field(still, name), "") << name;
    }
    EXPECT_EQ(field(still, "reading_v"), "0.42");
}

TEST(LogMeasure, NumbersArePlainDecimalsWithNineSignificantDigits) {
    EXPECT_EQ(csvNumber(0.0), "0");
    EXPECT_EQ(csvNumber(-0.0), "0");
    EXPECT_EQ(csvNumber(6.25), "6.25");
    EXPECT_EQ(csvNumber(-12.3), "-12.3");
    EXPECT_EQ(csvNumber(5.12e-8), "0.0000000512");
    EXPECT_EQ(csvNumber(1.0 / 3.0), "0.333333333");
    EXPECT_EQ(csvNumber(2e7), "20000000");
    EXPECT_EQ(csvNumber(123456789012.0), "123456789012");
    EXPECT_EQ(csvNumber(1234.567890123), "1234.56789");
    EXPECT_EQ(csvNumber(std::nan("")), "");
    // Whatever the size, no exponent and nine digits that read back.
    for (double value = 1.2345678912345e-9; value < 1e9; value *= 7.3) {
        const std::string text = csvNumber(value);
        EXPECT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        EXPECT_NEAR(std::strtod(text.c_str(), nullptr) / value, 1.0, 5e-9) << text;
    }
}

} // namespace
} // namespace veltrace::logtool
