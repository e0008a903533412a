// The Volts and Time(Frq) readouts: scales, unit steps and texts.
#include "display/readout.h"

#include "state/scope_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace veltrace;

// The readout of one channel's cursors and scale factors in a view.
class ReadoutTest : public testing::Test {
  protected:
    void setColumns(int left, int right) {
        cursors.posVLineL = static_cast<std::int16_t>(left);
        cursors.posVLineR = static_cast<std::int16_t>(right);
    }
    void setRows(int upper, int lower) {
        cursors.posHLineO = static_cast<std::int16_t>(upper);
        cursors.posHLineU = static_cast<std::int16_t>(lower);
    }
    void update() {
        r = display::computeReadout(cursors, voltsPerStep, timePerSample,
                                    display::geometryOf(view));
    }
    const std::string& volts() const { return r.voltsReadout; }
    const std::string& time() const { return r.timeReadout; }

    state::ChannelCursors cursors;
    float voltsPerStep = 0.0f;
    float timePerSample = 0.0f;
    display::View view = display::View::Screen;
    state::ChannelReadout r;
};

// ---- Scales ----

class ReadoutScale : public ReadoutTest {};

TEST_F(ReadoutScale, StartPositionsMeasure492PixelsBothWays) {
    voltsPerStep = 0.02f;
    timePerSample = 0.5f;
    update();
    EXPECT_EQ(r.cursorDeltaY, 492);
    EXPECT_EQ(r.cursorDeltaX, 492);
    EXPECT_EQ(volts(), "1.23V");                // 61.5 x 0.02 V
    EXPECT_EQ(time(), "61.50\xB5s (16.26KHz)"); // 123 x 0.5 us, 1 / 61.5 us
}

TEST_F(ReadoutScale, FourChannelViewGivesFourTimesTheVoltage) {
    voltsPerStep = 0.5f;
    setRows(10, 110);
    update();
    EXPECT_EQ(volts(), "6.25V"); // 100 rows / 8 x 0.5
    view = display::View::Strips;
    update();
    EXPECT_EQ(volts(), "25.00V"); // 100 rows / 2 x 0.5
}

TEST_F(ReadoutScale, ZeroScalesGiveZeroTexts) {
    update();
    EXPECT_EQ(volts(), "0.00V");
    EXPECT_EQ(time(), "0.00\xB5s (0.00Hz)");
}

TEST_F(ReadoutScale, DeltasAreSixteenBitValues) {
    voltsPerStep = 8.0f;
    setRows(-32768, 32767); // 65535 wraps to -1
    update();
    EXPECT_EQ(r.cursorDeltaY, -1);
    EXPECT_EQ(volts(), "-1.00V");
}

// ---- Unit steps ----

class ReadoutUnits : public ReadoutTest {
  protected:
    // A time of `columns` x timePerSample / 4 microseconds.
    void measure(float microsecondsPerSample, int columns) {
        timePerSample = microsecondsPerSample;
        setColumns(0, columns);
        update();
    }
};

TEST_F(ReadoutUnits, HundredMicrosecondsIsShownInMilliseconds) {
    measure(1.0f, 400); // 100 us
    EXPECT_EQ(time(), "0.10ms (10.00KHz)");
}

TEST_F(ReadoutUnits, JustBelowHundredStaysInMicroseconds) {
    measure(0.9999f, 400); // 99.99 us
    EXPECT_EQ(time(), "99.99\xB5s (10.00KHz)");
}

TEST_F(ReadoutUnits, ThousandHertzStaysInHertz) {
    measure(10.0f, 400); // 1000 us
    EXPECT_EQ(time(), "1.00ms (1000.00Hz)");
}

TEST_F(ReadoutUnits, JustAboveThousandHertzIsShownInKilohertz) {
    measure(static_cast<float>(1e6 / 1000.5 / 100.0), 400); // 1000.5 Hz
    EXPECT_EQ(time(), "1.00ms (1.00KHz)");
}

TEST_F(ReadoutUnits, SecondsAfterTwoSteps) {
    measure(2000.0f, 400); // 200000 us = 0.2 s
    EXPECT_EQ(time(), "0.20s (5.00Hz)");
}

TEST_F(ReadoutUnits, NegativeDeltasKeepTheFirstUnits) {
    voltsPerStep = 0.5f;
    setRows(502, 10);
    measure(10.0f, -492); // -1230 us, -813 Hz
    EXPECT_EQ(volts(), "-30.75V");
    EXPECT_EQ(time(), "-1230.00\xB5s (-813.01Hz)");
}

// Values far beyond what the device produces stay in the last unit instead of running past the
// end of the unit tables.
TEST_F(ReadoutUnits, HugeTimeStaysInSeconds) {
    measure(1e9f, 32000); // 8e12 us
    const std::string text = time();
    ASSERT_EQ(text.substr(0, text.find(' ')), "8000000.00s");
}

TEST_F(ReadoutUnits, HugeFrequencyStaysInMegahertz) {
    measure(1e-6f, 1); // 2.5e-7 us: 4e12 Hz
    const std::string text = time();
    const std::size_t open = text.find('(');
    ASSERT_NE(open, std::string::npos);
    ASSERT_GE(text.size(), open + 5);
    EXPECT_EQ(text.substr(text.size() - 4), "MHz)");
    const double shown = std::strtod(text.c_str() + open + 1, nullptr);
    EXPECT_GT(shown, 3.9e6);
    EXPECT_LT(shown, 4.1e6);
}

// The single values the Measurements window shows go through the same unit steps as the
// readout: the limits sit where the readout's do.
TEST(ReadoutValueTexts, EachValueSteppedAsTheReadoutStepsIt) {
    EXPECT_EQ(display::voltsText(-0.5f), "-0.50V");
    EXPECT_EQ(display::voltsText(12.345f), "12.35V");
    EXPECT_EQ(display::timeText(99.99f), "99.99\xB5s");
    EXPECT_EQ(display::timeText(100.0f), "0.10ms");
    EXPECT_EQ(display::timeText(250000.0f), "0.25s");
    EXPECT_EQ(display::frequencyText(1000.0f), "1000.00Hz");
    EXPECT_EQ(display::frequencyText(1250.0f), "1.25KHz");
    EXPECT_EQ(display::frequencyText(2.5e6f), "2.50MHz");
    EXPECT_EQ(display::frequencyText(4e12f).substr(0, 10), "4000000.00");
}

} // namespace
