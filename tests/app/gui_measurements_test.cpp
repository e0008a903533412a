// The Measurements window driven as the user drives it: chosen from the File menu, its Reset
// button clicked and its close box pressed through the test driver, HOLD and the channel buttons
// clicked in the main window, while frames from the simulator's frame builder go through the
// acquisition cycle and its frame callback exactly as a port's bytes do. Runs on Qt and on Win32.
#include "gui_window_fixture.h"

#include "app/app.h"
#include "link/acquisition.h"
#include "link/memory_source.h"
#include "measure/measure.h"
#include "tools/simframes/frames.h"

#ifndef _WIN32
#include <QApplication>
#endif

#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace veltrace::apptest {
namespace {

using namespace veltrace::app;

// Timebase code 6: 50 us per sample, so 128 samples span 6.4 ms and the spectrum's lines stand
// 156.25 Hz apart. Both test signals fall exactly on a line.
constexpr int Timebase50us = 6;
constexpr double LineSpacingHz = 1e6 / (128 * 50.0);
// The 10 V range: 1 V per division of 6.4 steps.
constexpr double VoltsPerStep = 0.15625;

// The value and unit of a text such as "1.25KHz" or "-12.3V".
struct Reading {
    double value = 0.0;
    std::string unit;
};

std::optional<Reading> parse(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (end == text.c_str()) {
        return std::nullopt;
    }
    return Reading{value, std::string(end)};
}

class MeasurementsWindowTest : public MainWindowFixture {
  protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        source = std::make_shared<link::MemorySource>();
        cycle = std::make_unique<link::AcquisitionCycle>(
            link::AcquisitionJob{source, app::frameCompleted});
    }
    void TearDown() override {
        drive::settle();
        MainWindowFixture::TearDown();
    }

    // One frame of the shape on the 10 V range, through one acquisition cycle.
    void feed(sim::Waveform waveform, double frequencyHz, int amplitude,
              std::array<std::uint8_t, 4> reading = {0, 0, 0, 0},
              sim::Range range = sim::Range::V10) {
        const sim::WaveShape shape{waveform, frequencyHz, amplitude, 32};
        std::uint32_t noise = 0;
        const sim::FrameSamplesArray samples =
            sim::sampleWaveform(shape, sim::timePerSampleUs(Timebase50us), 0.0, noise);
        const sim::FrameSettings settings{sim::switchesByte(sim::Coupling::Dc, range), Timebase50us,
                                          sim::triggerByte(sim::Source::IntPlus, false),
                                          sim::levelByte(sim::Level::P01)};
        source->push(sim::buildFrame(settings, samples, 0x7C, reading));
        ASSERT_TRUE(cycle->run());
        drive::settle();
    }

    static std::string text(int control) { return tk::controlTextGet(control); }
    static std::string value(measure::Quantity q, MeasureColumn column = MeasureColumn::Value) {
        return text(measureText(static_cast<int>(q), column));
    }
    // A value in its unit's base (Hz or V), checked to carry one of the readouts' units.
    static double hertz(const std::string& shown) {
        const std::optional<Reading> r = parse(shown);
        EXPECT_TRUE(r) << shown;
        if (!r) {
            return 0.0;
        }
        if (r->unit == "Hz") {
            return r->value;
        }
        if (r->unit == "KHz") {
            return r->value * 1e3;
        }
        if (r->unit == "MHz") {
            return r->value * 1e6;
        }
        ADD_FAILURE() << "not a frequency: " << shown;
        return 0.0;
    }
    static double volts(const std::string& shown) {
        const std::optional<Reading> r = parse(shown);
        EXPECT_TRUE(r && r->unit == "V") << shown;
        return r ? r->value : 0.0;
    }

    std::shared_ptr<link::MemorySource> source;
    std::unique_ptr<link::AcquisitionCycle> cycle;
};

// ---- One window ----------------------------------------------------------------------------

using MeasurementsMenu = MeasurementsWindowTest;

TEST_F(MeasurementsMenu, ChosenTwiceLeavesOneWindowWithItsControls) {
    ASSERT_EQ(tk::windowExists(MeasurementsWindow), 0);
    EXPECT_EQ(chooseMenu(MenuMeasurements), tk::EventMenu);
    ASSERT_EQ(tk::windowExists(MeasurementsWindow), 1);
    const tk::Handle first = tk::windowHandle(MeasurementsWindow);
    EXPECT_EQ(tk::controlInfo(ButtonMeasureReset).window, MeasurementsWindow);
    EXPECT_EQ(tk::controlInfo(ImageSpectrum).window, MeasurementsWindow);
    EXPECT_TRUE(drive::shown(ButtonMeasureReset));

    // The second choice brings the same window forward instead of opening another one.
    chooseMenu(MenuMeasurements);
    EXPECT_EQ(tk::windowHandle(MeasurementsWindow), first);
    EXPECT_EQ(tk::windowExists(MainWindow), 1);
    EXPECT_EQ(tk::windowInnerWidth(MeasurementsWindow), 544);
    EXPECT_EQ(tk::windowInnerHeight(MeasurementsWindow), 540);
#ifndef _WIN32
    int titled = 0;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        titled += top->isVisible() && top->windowTitle() == "Measurements" ? 1 : 0;
    }
    EXPECT_EQ(titled, 1);
#endif
}

TEST_F(MeasurementsMenu, ChannelWithoutAFrameShowsNoValuesAtAll) {
    chooseMenu(MenuMeasurements);
    EXPECT_EQ(text(TextMeasureChannel), "CH1");
    for (const measure::Quantity q : measure::AllQuantities) {
        for (int k = 0; k < MeasureColumns; ++k) {
            EXPECT_EQ(value(q, static_cast<MeasureColumn>(k)), "---")
                << measure::quantityName(q) << " column " << k;
        }
    }
    EXPECT_EQ(text(TextReading), "---");
    EXPECT_EQ(text(TextMeasureFrames), "0 frames");
}

// ---- Following the main window ---------------------------------------------------------------

using MeasurementsFollow = MeasurementsWindowTest;

TEST_F(MeasurementsFollow, ValuesFollowTheSelectedChannelAndStayWhileHeld) {
    chooseMenu(MenuMeasurements);
    // CH1: a sine of 1250 Hz and 20 steps peak, 40 steps from peak to peak.
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20);
    EXPECT_EQ(text(TextMeasureChannel), "CH1");
    EXPECT_NEAR(hertz(value(measure::Quantity::Frequency)), 1250.0, 1250.0 * 0.02);
    EXPECT_NEAR(volts(value(measure::Quantity::PeakToPeak)), 40 * VoltsPerStep, VoltsPerStep);

    // CH2 selected: the next frames go to it, and the window shows them.
    EXPECT_EQ(click(optionChannel(1)), tk::EventControl);
    feed(sim::Waveform::Square, 4 * LineSpacingHz, 12);
    EXPECT_EQ(text(TextMeasureChannel), "CH2");
    EXPECT_NEAR(hertz(value(measure::Quantity::Frequency)), 625.0, 625.0 * 0.02);
    EXPECT_NEAR(volts(value(measure::Quantity::PeakToPeak)), 24 * VoltsPerStep, VoltsPerStep);
    const std::string duty = value(measure::Quantity::DutyPositive);
    ASSERT_TRUE(parse(duty)) << duty;
    EXPECT_NEAR(parse(duty)->value, 50.0, 3.0);
    EXPECT_EQ(parse(duty)->unit, "%");

    // HOLD: what arrives now is dropped, and the window keeps the held frame.
    click(ButtonHold);
    ASSERT_EQ(scope.holdDisplay, 1);
    const std::string frequency = value(measure::Quantity::Frequency);
    const std::string frames = text(TextMeasureFrames);
    feed(sim::Waveform::Sine, 2 * LineSpacingHz, 25);
    EXPECT_EQ(value(measure::Quantity::Frequency), frequency);
    EXPECT_EQ(text(TextMeasureFrames), frames);

    // Released: the next frame is shown.
    click(ButtonHold);
    feed(sim::Waveform::Sine, 2 * LineSpacingHz, 25);
    EXPECT_NEAR(hertz(value(measure::Quantity::Frequency)), 312.5, 312.5 * 0.03);
    EXPECT_NEAR(volts(value(measure::Quantity::PeakToPeak)), 50 * VoltsPerStep, VoltsPerStep);
}

TEST_F(MeasurementsFollow, SingleShotHoldsTheFrameItCaught) {
    chooseMenu(MenuMeasurements);
    click(ButtonSingleShot);
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20);
    ASSERT_EQ(scope.holdDisplay, 1);
    feed(sim::Waveform::Sine, 2 * LineSpacingHz, 10);
    EXPECT_NEAR(hertz(value(measure::Quantity::Frequency)), 1250.0, 1250.0 * 0.02);
    EXPECT_EQ(text(TextMeasureFrames), "1 frame");
}

// The device's own reading of the frame, scaled by its range: 1, 2, 3 on the 10 V range with the
// negative and high flags.
TEST_F(MeasurementsFollow, ScopeReadingWithItsSignScaleAndMark) {
    chooseMenu(MenuMeasurements);
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20, {1, 2, 3, 0x11});
    EXPECT_EQ(text(TextReading), "-12.3V");
    EXPECT_EQ(text(TextReadingMark), "HIGH");
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20, {0, 4, 5, 0x02});
    EXPECT_EQ(text(TextReading), "4.5V");
    EXPECT_EQ(text(TextReadingMark), "LOW");
    // The 1 V range: hundredths, from the switches byte of this very frame.
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20, {1, 2, 3, 0}, sim::Range::V1);
    EXPECT_EQ(text(TextReading), "1.23V");
    EXPECT_EQ(text(TextReadingMark), "");
}

// The spectrum as it is on the screen: the strongest line is drawn white at the built frequency's
// line, its neighbours far from it are not, and the label names it.
TEST_F(MeasurementsFollow, SpectrumMarksTheStrongestLineAtTheBuiltFrequency) {
    chooseMenu(MenuMeasurements);
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20);
    const tk::Image shown = drive::pixels(ImageSpectrum);
    ASSERT_EQ(shown.width, 65 * 8);
    ASSERT_EQ(shown.height, 140);
    // White pixels in the bar of a line, counted down its middle column.
    auto whiteRows = [&shown](int line) {
        int count = 0;
        const int x = line * 8 + 3;
        for (int y = 0; y < shown.height; ++y) {
            const std::uint8_t* p = shown.rgb.data() + (std::size_t(y) * shown.width + x) * 3;
            count += p[0] == 255 && p[1] == 255 && p[2] == 255 ? 1 : 0;
        }
        return count;
    };
    EXPECT_GT(whiteRows(8), 100);
    EXPECT_EQ(whiteRows(4), 0);
    EXPECT_EQ(whiteRows(20), 0);
    const std::string peak = text(TextSpectrumPeak);
    EXPECT_EQ(peak.rfind("Strongest: 1.25KHz at ", 0), 0u) << peak;
    // Half the sample rate of 20 kHz.
    EXPECT_EQ(text(TextSpectrumRight), "10.00KHz");
}

// ---- Statistics ----------------------------------------------------------------------------

using MeasurementsStatistics = MeasurementsWindowTest;

TEST_F(MeasurementsStatistics, MinimumMaximumAndMeanOverFramesAndResetClearsThem) {
    chooseMenu(MenuMeasurements);
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 12); // 24 steps peak to peak
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20); // 40
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 16); // 32
    const measure::Quantity pp = measure::Quantity::PeakToPeak;
    EXPECT_EQ(text(TextMeasureFrames), "3 frames");
    EXPECT_NEAR(volts(value(pp, MeasureColumn::Minimum)), 24 * VoltsPerStep, VoltsPerStep);
    EXPECT_NEAR(volts(value(pp, MeasureColumn::Maximum)), 40 * VoltsPerStep, VoltsPerStep);
    EXPECT_NEAR(volts(value(pp, MeasureColumn::Mean)), 32 * VoltsPerStep, VoltsPerStep);
    EXPECT_NEAR(volts(value(pp)), 32 * VoltsPerStep, VoltsPerStep);

    // A redraw of the same frame (a command) does not count it again.
    click(ButtonCursorH);
    EXPECT_EQ(text(TextMeasureFrames), "3 frames");

    EXPECT_EQ(click(ButtonMeasureReset), tk::EventControl);
    EXPECT_EQ(text(TextMeasureFrames), "0 frames");
    for (int k = 1; k < MeasureColumns; ++k) {
        EXPECT_EQ(value(pp, static_cast<MeasureColumn>(k)), "---");
    }
    EXPECT_NEAR(volts(value(pp)), 32 * VoltsPerStep, VoltsPerStep); // the frame on show stays

    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20);
    EXPECT_EQ(text(TextMeasureFrames), "1 frame");
    EXPECT_EQ(value(pp, MeasureColumn::Minimum), value(pp, MeasureColumn::Maximum));
    EXPECT_NEAR(volts(value(pp, MeasureColumn::Mean)), 40 * VoltsPerStep, VoltsPerStep);
}

TEST_F(MeasurementsStatistics, AnotherChannelStartsItsOwnStatistics) {
    chooseMenu(MenuMeasurements);
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 12);
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20);
    click(optionChannel(2));
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 16);
    EXPECT_EQ(text(TextMeasureChannel), "CH3");
    EXPECT_EQ(text(TextMeasureFrames), "1 frame");
    EXPECT_EQ(value(measure::Quantity::PeakToPeak, MeasureColumn::Minimum),
              value(measure::Quantity::PeakToPeak, MeasureColumn::Maximum));
}

// ---- Closed ----------------------------------------------------------------------------------

using MeasurementsClosed = MeasurementsWindowTest;

TEST_F(MeasurementsClosed, CloseBoxClosesOnlyItAndNothingIsMeasuredUntilItOpensAgain) {
    chooseMenu(MenuMeasurements);
    const std::uint64_t opened = measurementPasses();
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 20);
    EXPECT_GT(measurementPasses(), opened);

    drive::closeWindow(MeasurementsWindow);
    EXPECT_EQ(turn(), tk::EventClose);
    EXPECT_EQ(tk::windowExists(MeasurementsWindow), 0);
    EXPECT_EQ(tk::windowExists(MainWindow), 1);
    EXPECT_EQ(scope.quitRequested, 0);

    const std::uint64_t closed = measurementPasses();
    const tk::Handle screen = tk::controlInfo(ImageScreen).image;
    feed(sim::Waveform::Sine, 8 * LineSpacingHz, 16);
    feed(sim::Waveform::Square, 4 * LineSpacingHz, 16);
    EXPECT_EQ(measurementPasses(), closed);
    EXPECT_NE(tk::controlInfo(ImageScreen).image, screen); // the main window went on drawing

    // Opened again: it shows the last frame at once, and its statistics start with that frame.
    chooseMenu(MenuMeasurements);
    EXPECT_GT(measurementPasses(), closed);
    EXPECT_NEAR(hertz(value(measure::Quantity::Frequency)), 625.0, 625.0 * 0.02);
    EXPECT_EQ(text(TextMeasureFrames), "1 frame");
}

// ---- With the acquisition thread ---------------------------------------------------------------

// The frames come from the acquisition thread while the main thread's loop opens the window,
// resets and closes it: each frame is counted once, the statistics start again at Reset, and
// nothing is measured once the window is closed.
class MeasurementsThreaded : public MeasurementsWindowTest {
  protected:
    void TearDown() override {
        if (thread != 0) {
            link::stopAcquisition(thread);
        }
        MeasurementsWindowTest::TearDown();
    }
    void pushFrames(int count, int amplitude) {
        const sim::WaveShape shape{sim::Waveform::Sine, 8 * LineSpacingHz, amplitude, 32};
        std::uint32_t noise = 0;
        const sim::FrameSamplesArray samples =
            sim::sampleWaveform(shape, sim::timePerSampleUs(Timebase50us), 0.0, noise);
        const sim::FrameSettings settings{
            sim::switchesByte(sim::Coupling::Dc, sim::Range::V10), Timebase50us,
            sim::triggerByte(sim::Source::IntPlus, false), sim::levelByte(sim::Level::P01)};
        for (int i = 0; i < count; ++i) {
            source->push(sim::buildFrame(settings, samples));
        }
    }
    static std::uint64_t drawn() { return link::acquisitionStats().framesDrawn; }
    static bool turnUntil(const std::function<bool()>& condition) {
        for (int i = 0; i < 1500; ++i) {
            if (condition()) {
                return true;
            }
            turn();
        }
        return condition();
    }
    // The window's texts, read as one update left them.
    static std::string locked(int control) {
        std::lock_guard<std::recursive_mutex> guard(scopeLock());
        return tk::controlTextGet(control);
    }

    int thread = 0;
};

TEST_F(MeasurementsThreaded, FramesFromTheWorkerAreCountedOnceAcrossResetAndClose) {
    chooseMenu(MenuMeasurements);
    const std::uint64_t base = drawn();
    pushFrames(20, 12);
    thread = link::startAcquisition(link::AcquisitionJob{source, app::frameCompleted});
    ASSERT_NE(thread, 0);
    ASSERT_TRUE(turnUntil([&] { return drawn() == base + 20; }));
    EXPECT_EQ(locked(TextMeasureFrames), "20 frames");
    EXPECT_NEAR(volts(locked(measureText(0, MeasureColumn::Mean))), 24 * VoltsPerStep,
                VoltsPerStep);

    EXPECT_EQ(click(ButtonMeasureReset), tk::EventControl);
    EXPECT_EQ(locked(TextMeasureFrames), "0 frames");
    pushFrames(10, 20);
    ASSERT_TRUE(turnUntil([&] { return drawn() == base + 30; }));
    EXPECT_EQ(locked(TextMeasureFrames), "10 frames");
    // Only the frames after Reset: a minimum of the earlier, smaller trace would show here.
    EXPECT_NEAR(volts(locked(measureText(0, MeasureColumn::Minimum))), 40 * VoltsPerStep,
                VoltsPerStep);

    drive::closeWindow(MeasurementsWindow);
    EXPECT_EQ(turn(), tk::EventClose);
    const std::uint64_t passes = measurementPasses();
    pushFrames(10, 16);
    ASSERT_TRUE(turnUntil([&] { return drawn() == base + 40; }));
    EXPECT_EQ(measurementPasses(), passes);
}

} // namespace
} // namespace veltrace::apptest
