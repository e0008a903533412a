// The Volts and Time(Frq) readouts: scales, unit steps and texts.
#include "display/display.h"

#include "app/scope_state.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace veltrace;

class ReadoutTest : public testing::Test {
  protected:
    void SetUp() override { app::resetScopeState(); }

    // Vertical cursors `width` columns apart on channel c.
    static void setColumns(int c, int left, int right) {
        app::scope.posVLineL[c] = static_cast<std::int16_t>(left);
        app::scope.posVLineR[c] = static_cast<std::int16_t>(right);
    }
    static void setRows(int c, int upper, int lower) {
        app::scope.posHLineO[c] = static_cast<std::int16_t>(upper);
        app::scope.posHLineU[c] = static_cast<std::int16_t>(lower);
    }
    static const std::string& volts(int c = 0) { return app::scope.voltsReadout[c]; }
    static const std::string& time(int c = 0) { return app::scope.timeReadout[c]; }
};

// ---- Scales ----

class ReadoutScale : public ReadoutTest {};

TEST_F(ReadoutScale, StartPositionsMeasure492PixelsBothWays) {
    app::scope.voltsPerStep[0] = 0.02f;
    app::scope.timePerSample[0] = 0.5f;
    display::updateReadout();
    EXPECT_EQ(app::scope.cursorDeltaY[0], 492);
    EXPECT_EQ(app::scope.cursorDeltaX[0], 492);
    EXPECT_EQ(volts(), "1.23V");                // 61.5 x 0.02 V
    EXPECT_EQ(time(), "61.50\xB5s (16.26KHz)"); // 123 x 0.5 us, 1 / 61.5 us
}

TEST_F(ReadoutScale, FourChannelViewGivesFourTimesTheVoltage) {
    app::scope.voltsPerStep[0] = 0.5f;
    setRows(0, 10, 110);
    display::updateReadout();
    EXPECT_EQ(volts(), "6.25V"); // 100 rows / 8 x 0.5
    app::scope.fourChannelView = 1;
    display::updateReadout();
    EXPECT_EQ(volts(), "25.00V"); // 100 rows / 2 x 0.5
}

TEST_F(ReadoutScale, ZeroScalesGiveZeroTexts) {
    display::updateReadout();
    EXPECT_EQ(volts(), "0.00V");
    EXPECT_EQ(time(), "0.00\xB5s (0.00Hz)");
}

TEST_F(ReadoutScale, DeltasAreSixteenBitValues) {
    app::scope.voltsPerStep[0] = 8.0f;
    setRows(0, -32768, 32767); // 65535 wraps to -1
    display::updateReadout();
    EXPECT_EQ(app::scope.cursorDeltaY[0], -1);
    EXPECT_EQ(volts(), "-1.00V");
}

// ---- Unit steps ----

class ReadoutUnits : public ReadoutTest {
  protected:
    // A time of `columns` x timePerSample / 4 microseconds.
    void measure(float timePerSample, int columns) {
        app::scope.timePerSample[0] = timePerSample;
        setColumns(0, 0, columns);
        display::updateReadout();
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
    app::scope.voltsPerStep[0] = 0.5f;
    setRows(0, 502, 10);
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

// ---- Channels ----

class ReadoutChannels : public ReadoutTest {};

TEST_F(ReadoutChannels, OnlyTheCurrentChannelIsUpdated) {
    app::scope.voltsReadout[1] = "old";
    app::scope.timeReadout[1] = "old";
    app::scope.currentChannel = 2;
    app::scope.voltsPerStep[2] = 1.0f;
    setRows(2, 0, 16);
    display::updateReadout();
    EXPECT_EQ(volts(2), "2.00V");
    EXPECT_EQ(app::scope.cursorDeltaY[2], 16);
    EXPECT_EQ(volts(1), "old");
    EXPECT_EQ(time(1), "old");
    EXPECT_EQ(volts(0), "");
    EXPECT_EQ(app::scope.cursorDeltaY[0], 0);
}

} // namespace
