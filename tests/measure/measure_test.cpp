// The measurements of frames made by the simulator's frame builder, with known shape, height and
// frequency, decoded as the program decodes them. Each value is held to the error that 7-bit
// samples and 128 points allow, stated beside each check:
//   peak to peak, amplitude   within 2 steps (each extreme is rounded to a whole step and may
//                             fall between two samples);
//   AC RMS                    within 3 % (rounding to steps; the whole periods in the frame
//                             are cut at the nearest sample);
//   frequency, period         within 1.5 % (each crossing is interpolated to within half a
//                             sample; the frames hold 100 or more samples of whole periods);
//   widths                    within 1 sample time (two crossings of half a sample each);
//   duty cycle                within 2 percentage points (1 sample of a 50-sample period);
//   rise and fall time        within 1 sample time; an instant step reads under one sample.
#include "measure/measure.h"

#include "display/view_geometry.h"
#include "link/decoder.h"
#include "link/frame_log.h"
#include "simframes/frames.h"
#include "state/scope_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <span>
#include <string>

namespace {

using namespace veltrace;
using measure::Quantity;

constexpr int TimebaseCode = 5;           // 10 us per sample: a frame spans 1.28 ms
constexpr double SampleSeconds = 10e-6;   //
constexpr double VoltsPerStep = 0.015625; // the 1 V range

// The channel a decoder leaves after one whole frame of this shape.
state::ChannelData decodedFrame(const sim::WaveShape& shape, int timebaseCode = TimebaseCode,
                                sim::Range range = sim::Range::V1, std::uint32_t seed = 1) {
    std::uint32_t noise = seed;
    const double us = sim::timePerSampleUs(timebaseCode);
    const auto samples = sim::sampleWaveform(shape, us, 0.0, noise);
    sim::FrameSettings settings;
    settings.switches = sim::switchesByte(sim::Coupling::Dc, range);
    settings.timebase = static_cast<std::uint8_t>(timebaseCode);
    const auto bytes = sim::buildFrame(settings, samples);
    link::FrameDecoder decoder;
    state::ChannelData channel;
    int frames = 0;
    for (std::uint8_t byte : bytes) {
        frames += link::decodeFrameByte(decoder, byte, channel);
    }
    EXPECT_EQ(frames, 1);
    return channel;
}

measure::Measurements measured(const state::ChannelData& channel) {
    return measure::measureFrame(channel.samples, channel.voltsPerStep, channel.timePerSample);
}

sim::WaveShape shape(sim::Waveform waveform, double hz, int amplitude, int offset = 32) {
    sim::WaveShape s;
    s.waveform = waveform;
    s.frequencyHz = hz;
    s.amplitude = amplitude;
    s.offset = offset;
    return s;
}

// ---- The heights ----

TEST(MeasureHeights, SineHasPeakToPeakAmplitudeAndRmsOfItsPeak) {
    const auto m = measured(decodedFrame(shape(sim::Waveform::Sine, 2000.0, 24)));
    ASSERT_TRUE(m.peakToPeak && m.amplitude && m.acRms);
    EXPECT_FALSE(m.clipped);
    EXPECT_NEAR(*m.peakToPeak, 48 * VoltsPerStep, 2 * VoltsPerStep);
    // No level dominates a sine: the extremes stand for top and base.
    EXPECT_NEAR(*m.amplitude, 48 * VoltsPerStep, 2 * VoltsPerStep);
    const double rms = 24 * VoltsPerStep / std::numbers::sqrt2;
    EXPECT_NEAR(*m.acRms, rms, 0.03 * rms);
}

TEST(MeasureHeights, SquareAmplitudeIsTopMinusBaseAndRmsFollowsTheDuty) {
    for (double duty : {0.25, 0.5, 0.75}) {
        SCOPED_TRACE(duty);
        auto s = shape(sim::Waveform::Square, 2000.0, 20);
        s.duty = duty;
        const auto m = measured(decodedFrame(s));
        ASSERT_TRUE(m.peakToPeak && m.amplitude && m.acRms);
        EXPECT_NEAR(*m.peakToPeak, 40 * VoltsPerStep, 2 * VoltsPerStep);
        EXPECT_NEAR(*m.amplitude, 40 * VoltsPerStep, 2 * VoltsPerStep);
        // Two levels 2A apart, high for the share d of the time: RMS 2A sqrt(d (1 - d)).
        const double rms = 40 * VoltsPerStep * std::sqrt(duty * (1 - duty));
        EXPECT_NEAR(*m.acRms, rms, 0.03 * rms);
    }
}

TEST(MeasureHeights, AmplitudeIgnoresOvershootThatPeakToPeakSees) {
    // A pulse train whose every rising edge overshoots by one sample 6 steps over the top.
    auto s = shape(sim::Waveform::Square, 2000.0, 15);
    auto channel = decodedFrame(s);
    for (int i = 1; i < 128; ++i) {
        if (channel.samples[i] > channel.samples[i - 1] + 20) {
            channel.samples[i] = static_cast<std::uint8_t>(channel.samples[i] + 6);
        }
    }
    const auto m = measured(channel);
    ASSERT_TRUE(m.peakToPeak && m.amplitude);
    EXPECT_NEAR(*m.peakToPeak, 36 * VoltsPerStep, 0.5 * VoltsPerStep);
    EXPECT_NEAR(*m.amplitude, 30 * VoltsPerStep, 0.5 * VoltsPerStep);
}

TEST(MeasureHeights, TriangleRmsIsPeakOverRootThree) {
    const auto m = measured(decodedFrame(shape(sim::Waveform::Triangle, 2000.0, 24)));
    ASSERT_TRUE(m.peakToPeak && m.acRms);
    EXPECT_NEAR(*m.peakToPeak, 48 * VoltsPerStep, 2 * VoltsPerStep);
    const double rms = 24 * VoltsPerStep / std::sqrt(3.0);
    EXPECT_NEAR(*m.acRms, rms, 0.03 * rms);
}

TEST(MeasureHeights, VoltsFollowTheRange) {
    const auto one = measured(decodedFrame(shape(sim::Waveform::Square, 2000.0, 20)));
    const auto hundred = measured(
        decodedFrame(shape(sim::Waveform::Square, 2000.0, 20), TimebaseCode, sim::Range::V100));
    ASSERT_TRUE(one.peakToPeak && hundred.peakToPeak);
    EXPECT_NEAR(*hundred.peakToPeak / *one.peakToPeak, 100.0, 1e-4);
}

TEST(MeasureHeights, OnlyDifferencesCountSoThePositionOnTheScreenChangesNothing) {
    // The position knob moves the trace: every shape, anywhere on the screen, measures alike.
    for (auto waveform : {sim::Waveform::Sine, sim::Waveform::Square, sim::Waveform::Triangle}) {
        const auto low = measured(decodedFrame(shape(waveform, 3000.0, 12, 16)));
        const auto high = measured(decodedFrame(shape(waveform, 3000.0, 12, 47)));
        for (Quantity q : measure::AllQuantities) {
            ASSERT_TRUE(measure::valueOf(low, q)) << measure::quantityName(q);
            EXPECT_NEAR(*measure::valueOf(low, q), *measure::valueOf(high, q),
                        1e-9 * std::abs(*measure::valueOf(low, q)))
                << measure::quantityName(q);
        }
    }
}

TEST(MeasureHeights, NoiseHasTheRmsOfAUniformSpread) {
    auto s = shape(sim::Waveform::Flat, 2000.0, 0);
    s.noise = 10;
    const auto m = measured(decodedFrame(s, TimebaseCode, sim::Range::V1, 12345));
    ASSERT_TRUE(m.peakToPeak && m.acRms);
    EXPECT_LE(*m.peakToPeak, 20 * VoltsPerStep + 1e-9);
    EXPECT_GE(*m.peakToPeak, 16 * VoltsPerStep);
    // Whole steps -10..10 equally likely: variance (21^2 - 1) / 12; 128 draws hold its root to
    // about 15 %.
    const double rms = std::sqrt((21.0 * 21.0 - 1.0) / 12.0) * VoltsPerStep;
    EXPECT_NEAR(*m.acRms, rms, 0.15 * rms);
}

// ---- The times ----

TEST(MeasureTimes, SineFrequencyAndPeriod) {
    for (double hz : {1600.0, 2000.0, 5000.0, 12000.0}) {
        SCOPED_TRACE(hz);
        const auto m = measured(decodedFrame(shape(sim::Waveform::Sine, hz, 24)));
        ASSERT_TRUE(m.frequency && m.period);
        EXPECT_NEAR(*m.frequency, hz, 0.015 * hz);
        EXPECT_NEAR(*m.period, 1.0 / hz, 0.015 / hz);
        EXPECT_NEAR(*m.frequency * *m.period, 1.0, 1e-12);
    }
}

TEST(MeasureTimes, SquareWidthsAndDutyFollowTheDutyCycle) {
    const double hz = 2000.0; // 50 samples a period
    for (double duty : {0.1, 0.25, 0.5, 0.75, 0.9}) {
        SCOPED_TRACE(duty);
        auto s = shape(sim::Waveform::Square, hz, 20);
        s.duty = duty;
        const auto m = measured(decodedFrame(s));
        ASSERT_TRUE(m.frequency && m.widthPositive && m.widthNegative && m.dutyPositive);
        EXPECT_NEAR(*m.frequency, hz, 0.015 * hz);
        EXPECT_NEAR(*m.widthPositive, duty / hz, SampleSeconds);
        EXPECT_NEAR(*m.widthNegative, (1 - duty) / hz, SampleSeconds);
        EXPECT_NEAR(*m.dutyPositive, duty * 100, 2.0);
    }
}

TEST(MeasureTimes, RiseAndFallOfATriangleAreFourFifthsOfItsHalfPeriod) {
    const double hz = 2000.0;
    const auto m = measured(decodedFrame(shape(sim::Waveform::Triangle, hz, 24)));
    ASSERT_TRUE(m.riseTime && m.fallTime);
    // From 10 % to 90 % of a ramp that takes half a period.
    EXPECT_NEAR(*m.riseTime, 0.8 * 0.5 / hz, SampleSeconds);
    EXPECT_NEAR(*m.fallTime, 0.8 * 0.5 / hz, SampleSeconds);
}

TEST(MeasureTimes, AStepRisesAndFallsWithinOneSample) {
    const auto m = measured(decodedFrame(shape(sim::Waveform::Square, 2000.0, 20)));
    ASSERT_TRUE(m.riseTime && m.fallTime);
    EXPECT_GT(*m.riseTime, 0.0);
    EXPECT_LE(*m.riseTime, SampleSeconds);
    EXPECT_GT(*m.fallTime, 0.0);
    EXPECT_LE(*m.fallTime, SampleSeconds);
}

TEST(MeasureTimes, TimesFollowTheTimebase) {
    // The same samples at 50 us a sample: every time five times longer.
    const auto s = shape(sim::Waveform::Square, 2000.0, 20);
    const auto fast = measured(decodedFrame(s, 5));
    auto slow = decodedFrame(s, 6);
    slow.samples = decodedFrame(s, 5).samples;
    const auto m = measured(slow);
    ASSERT_TRUE(fast.period && m.period && fast.widthPositive && m.widthPositive);
    EXPECT_NEAR(*m.period / *fast.period, 5.0, 1e-9);
    EXPECT_NEAR(*m.widthPositive / *fast.widthPositive, 5.0, 1e-9);
}

TEST(MeasureTimes, NoiseOnASlowSineIsNoEdge) {
    // A sine riding noise of 3 steps either way: without the hysteresis the noise near the mid
    // level would add crossings and the frequency would come out several times too high.
    for (std::uint32_t seed : {1u, 7u, 99u, 2024u}) {
        SCOPED_TRACE(seed);
        auto s = shape(sim::Waveform::Sine, 2000.0, 24);
        s.noise = 3;
        const auto m = measured(decodedFrame(s, TimebaseCode, sim::Range::V1, seed));
        ASSERT_TRUE(m.frequency);
        EXPECT_NEAR(*m.frequency, 2000.0, 0.03 * 2000.0);
    }
}

TEST(MeasureTimes, LessThanOneWholePeriodHasNoFrequency) {
    // 300 Hz: the 1.28 ms frame holds one rising and one falling edge.
    const auto m = measured(decodedFrame(shape(sim::Waveform::Square, 300.0, 20)));
    EXPECT_FALSE(m.frequency);
    EXPECT_FALSE(m.period);
    EXPECT_FALSE(m.dutyPositive);
    // The heights are still there.
    EXPECT_TRUE(m.peakToPeak);
    EXPECT_TRUE(m.amplitude);
}

// ---- What cannot be had ----

TEST(MeasureNoValue, FlatTraceHasNoTimesAndZeroHeights) {
    const auto m = measured(decodedFrame(shape(sim::Waveform::Flat, 2000.0, 0, 30)));
    ASSERT_TRUE(m.peakToPeak && m.amplitude && m.acRms);
    EXPECT_EQ(*m.peakToPeak, 0.0);
    EXPECT_EQ(*m.amplitude, 0.0);
    EXPECT_EQ(*m.acRms, 0.0);
    for (Quantity q :
         {Quantity::Frequency, Quantity::Period, Quantity::WidthPositive, Quantity::WidthNegative,
          Quantity::DutyPositive, Quantity::RiseTime, Quantity::FallTime}) {
        EXPECT_FALSE(measure::valueOf(m, q)) << measure::quantityName(q);
    }
}

TEST(MeasureNoValue, ClippedTraceKeepsItsTimesButNotItsHeights) {
    // A sine of 40 steps around 32 runs off the top and bottom of the screen.
    const auto m = measured(decodedFrame(shape(sim::Waveform::Sine, 2000.0, 40)));
    EXPECT_TRUE(m.clipped);
    for (Quantity q : {Quantity::PeakToPeak, Quantity::Amplitude, Quantity::AcRms,
                       Quantity::RiseTime, Quantity::FallTime}) {
        EXPECT_FALSE(measure::valueOf(m, q)) << measure::quantityName(q);
    }
    ASSERT_TRUE(m.frequency);
    EXPECT_NEAR(*m.frequency, 2000.0, 0.015 * 2000.0);
    EXPECT_TRUE(m.widthPositive);
    EXPECT_TRUE(m.dutyPositive);
}

TEST(MeasureNoValue, ATraceIsClippedExactlyWhereItTouchesTheScreensEdge) {
    // The highest and lowest values that stay inside the screen are measured; one more step
    // either way is not.
    const auto build = [](int low, int high) {
        state::ChannelData channel;
        for (int i = 0; i < 128; ++i) {
            channel.samples[i] = static_cast<std::uint8_t>((i / 16) % 2 == 0 ? high : low);
        }
        channel.voltsPerStep = static_cast<float>(VoltsPerStep);
        channel.timePerSample = 10.0f;
        return measured(channel);
    };
    EXPECT_FALSE(build(measure::LowestUnclippedValue, measure::HighestUnclippedValue).clipped);
    EXPECT_TRUE(build(measure::LowestUnclippedValue, measure::HighestUnclippedValue)
                    .peakToPeak.has_value());
    EXPECT_TRUE(build(measure::LowestUnclippedValue - 1, measure::HighestUnclippedValue).clipped);
    EXPECT_TRUE(build(measure::LowestUnclippedValue, measure::HighestUnclippedValue + 1).clipped);
    EXPECT_FALSE(
        build(measure::LowestUnclippedValue, measure::HighestUnclippedValue + 1).peakToPeak);
}

TEST(MeasureNoValue, ScreenEdgesAreThoseOfTheDrawnPictures) {
    // The lowest unclipped value lies inside both pictures, one step lower falls below them;
    // the highest lies below the top row, one step higher is drawn on the top row itself.
    for (const auto* g : {&display::ScreenGeometry, &display::StripGeometry}) {
        const auto row = [g](int value) { return g->height - g->rowsPerStep * value; };
        EXPECT_LE(row(measure::LowestUnclippedValue), g->height - 1);
        EXPECT_GE(row(measure::LowestUnclippedValue - 1), g->height);
        EXPECT_GT(row(measure::HighestUnclippedValue), 0);
        EXPECT_EQ(row(measure::HighestUnclippedValue + 1), 0);
    }
}

TEST(MeasureNoValue, NoFrameYetOrNonsenseScalesGiveNoValuesAtAll) {
    const auto channel = decodedFrame(shape(sim::Waveform::Square, 2000.0, 20));
    const double nan = std::nan("");
    const double inf = HUGE_VAL;
    for (auto [volts, us] : {std::pair{0.0, 10.0},
                             {VoltsPerStep, 0.0},
                             {0.0, 0.0},
                             {-VoltsPerStep, 10.0},
                             {nan, 10.0},
                             {VoltsPerStep, inf}}) {
        SCOPED_TRACE(std::to_string(volts) + " V, " + std::to_string(us) + " us");
        const auto m = measure::measureFrame(channel.samples, volts, us);
        for (Quantity q : measure::AllQuantities) {
            EXPECT_FALSE(measure::valueOf(m, q)) << measure::quantityName(q);
        }
        const auto spectrum = measure::computeSpectrum(channel.samples, volts, us);
        EXPECT_TRUE(spectrum.levelDb.empty());
        EXPECT_FALSE(spectrum.strongest);
    }
    // A channel as it stands before its first frame.
    const state::ChannelData fresh;
    const auto m = measured(fresh);
    for (Quantity q : measure::AllQuantities) {
        EXPECT_FALSE(measure::valueOf(m, q)) << measure::quantityName(q);
    }
}

TEST(MeasureNoValue, OnlyTheDrawnSamplesCount) {
    // Slot 128 is never drawn: a spike there changes nothing.
    auto channel = decodedFrame(shape(sim::Waveform::Square, 2000.0, 20));
    const auto before = measured(channel);
    channel.samples[128] = 120;
    const auto after = measured(channel);
    EXPECT_FALSE(after.clipped);
    for (Quantity q : measure::AllQuantities) {
        EXPECT_EQ(measure::valueOf(before, q), measure::valueOf(after, q))
            << measure::quantityName(q);
    }
}

TEST(MeasureNoValue, AnySamplesGiveValuesWithinTheFrameOrNone) {
    // Random frames of every kind (runs of levels, jumps, noise, all 7-bit values): no value is
    // ever infinite or NaN, and none lies outside what a frame of 128 samples can hold.
    std::uint32_t rng = 77;
    const double frameSeconds = 128 * SampleSeconds;
    for (int trial = 0; trial < 3000; ++trial) {
        state::ChannelData channel;
        const int top = 2 + static_cast<int>(sim::nextRandom(rng) % 126);
        int value = static_cast<int>(sim::nextRandom(rng) % top);
        for (auto& sample : channel.samples) {
            if (sim::nextRandom(rng) % 4 == 0) {
                value = static_cast<int>(sim::nextRandom(rng) % top);
            }
            sample = static_cast<std::uint8_t>(value);
        }
        const auto m = measure::measureFrame(channel.samples, VoltsPerStep, 10.0);
        SCOPED_TRACE(trial);
        for (Quantity q : measure::AllQuantities) {
            if (const auto v = measure::valueOf(m, q)) {
                ASSERT_TRUE(std::isfinite(*v)) << measure::quantityName(q);
                ASSERT_GE(*v, 0.0) << measure::quantityName(q);
            }
        }
        if (m.peakToPeak) {
            ASSERT_LE(*m.amplitude, *m.peakToPeak + 1e-12);
            ASSERT_LE(*m.acRms, *m.peakToPeak / 2 + 1e-12);
        }
        for (const auto& time :
             {m.period, m.widthPositive, m.widthNegative, m.riseTime, m.fallTime}) {
            if (time) {
                ASSERT_LE(*time, frameSeconds);
            }
        }
        if (m.dutyPositive) {
            ASSERT_LE(*m.dutyPositive, 100.0);
        }
        const auto spectrum = measure::computeSpectrum(channel.samples, VoltsPerStep, 10.0);
        for (double level : spectrum.levelDb) {
            ASSERT_TRUE(std::isfinite(level));
            ASSERT_GE(level, measure::SpectrumFloorDb);
        }
    }
}

// ---- Odd streams, through the decoder ----

TEST(MeasureOddFrames, UnnamedTimebaseCodeKeepsTheLastTimePerSample) {
    const auto s = shape(sim::Waveform::Square, 2000.0, 20);
    std::uint32_t noise = 1;
    const auto samples = sim::sampleWaveform(s, 10.0, 0.0, noise);
    sim::FrameSettings settings;
    settings.switches = sim::switchesByte(sim::Coupling::Dc, sim::Range::V1);
    settings.timebase = 5;
    link::FrameDecoder decoder;
    state::ChannelData channel;
    for (std::uint8_t byte : sim::buildFrame(settings, samples)) {
        link::decodeFrameByte(decoder, byte, channel);
    }
    const auto first = measured(channel);
    settings.timebase = 11; // no row in the table
    for (std::uint8_t byte : sim::buildFrame(settings, samples)) {
        link::decodeFrameByte(decoder, byte, channel);
    }
    const auto second = measured(channel);
    ASSERT_TRUE(first.frequency);
    EXPECT_EQ(first.frequency, second.frequency);
    EXPECT_EQ(first.riseTime, second.riseTime);
    EXPECT_NEAR(*second.frequency, 2000.0, 0.015 * 2000.0);
}

TEST(MeasureOddFrames, ResynchronisedStreamChangesOnlyTheFramesItCompletes) {
    // A whole sine frame, the first 70 bytes of a square frame (the line lost the rest), then a
    // whole triangle frame. The decoder completes two frames; measured as each completes, they
    // are the sine's and the triangle's.
    sim::FrameSettings settings;
    settings.switches = sim::switchesByte(sim::Coupling::Dc, sim::Range::V1);
    settings.timebase = TimebaseCode;
    std::uint32_t noise = 1;
    const auto frameOf = [&](sim::Waveform w) {
        return sim::buildFrame(settings,
                               sim::sampleWaveform(shape(w, 2000.0, 20), 10.0, 0.0, noise));
    };
    std::vector<std::uint8_t> stream = frameOf(sim::Waveform::Sine);
    const auto square = frameOf(sim::Waveform::Square);
    stream.insert(stream.end(), square.begin(), square.begin() + 70);
    const auto triangle = frameOf(sim::Waveform::Triangle);
    stream.insert(stream.end(), triangle.begin(), triangle.end());

    link::FrameDecoder decoder;
    state::ChannelData channel;
    std::vector<measure::Measurements> completed;
    for (std::uint8_t byte : stream) {
        if (link::decodeFrameByte(decoder, byte, channel) == 1) {
            completed.push_back(measured(channel));
        }
    }
    ASSERT_EQ(completed.size(), 2u);
    const auto sine = measured(decodedFrame(shape(sim::Waveform::Sine, 2000.0, 20)));
    const auto tri = measured(decodedFrame(shape(sim::Waveform::Triangle, 2000.0, 20)));
    for (Quantity q : measure::AllQuantities) {
        EXPECT_EQ(measure::valueOf(completed[0], q), measure::valueOf(sine, q))
            << measure::quantityName(q);
        EXPECT_EQ(measure::valueOf(completed[1], q), measure::valueOf(tri, q))
            << measure::quantityName(q);
    }
}

// ---- The spectrum ----

double dbv(double rmsVolts) {
    return 20.0 * std::log10(rmsVolts);
}

TEST(MeasureSpectrum, SineOnALineReadsItsRmsLevelThere) {
    // 128 samples of 10 us: lines 781.25 Hz apart.
    const double spacing = 781.25;
    for (int line : {3, 10, 25}) {
        SCOPED_TRACE(line);
        const auto channel = decodedFrame(shape(sim::Waveform::Sine, line * spacing, 24));
        const auto spectrum =
            measure::computeSpectrum(channel.samples, channel.voltsPerStep, channel.timePerSample);
        ASSERT_EQ(spectrum.levelDb.size(), measure::SpectrumLines);
        EXPECT_DOUBLE_EQ(spectrum.lineSpacingHz, spacing);
        ASSERT_TRUE(spectrum.strongest);
        EXPECT_EQ(spectrum.strongest->line, static_cast<std::size_t>(line));
        EXPECT_DOUBLE_EQ(spectrum.strongest->frequencyHz, line * spacing);
        // Peak 24 steps: 20 log10(24 x 0.015625 / sqrt 2) dBV; rounding to steps costs little.
        EXPECT_NEAR(spectrum.strongest->levelDb, dbv(24 * VoltsPerStep / std::numbers::sqrt2), 0.3);
        EXPECT_DOUBLE_EQ(spectrum.levelDb[line], spectrum.strongest->levelDb);
        // The Hann window keeps the level two lines away far below.
        EXPECT_LT(spectrum.levelDb[line + 3], spectrum.strongest->levelDb - 30.0);
    }
}

TEST(MeasureSpectrum, StrongestLineIsTheOneNearestTheBuiltFrequency) {
    for (double hz : {2000.0, 3300.0, 9000.0}) {
        SCOPED_TRACE(hz);
        for (auto waveform :
             {sim::Waveform::Sine, sim::Waveform::Square, sim::Waveform::Triangle}) {
            const auto channel = decodedFrame(shape(waveform, hz, 20));
            const auto spectrum = measure::computeSpectrum(channel.samples, channel.voltsPerStep,
                                                           channel.timePerSample);
            ASSERT_TRUE(spectrum.strongest);
            EXPECT_EQ(spectrum.strongest->line,
                      static_cast<std::size_t>(std::lround(hz / spectrum.lineSpacingHz)));
        }
        // Between two lines a sine reads at most the Hann window's 1.42 dB low.
        const auto channel = decodedFrame(shape(sim::Waveform::Sine, hz, 20));
        const auto spectrum =
            measure::computeSpectrum(channel.samples, channel.voltsPerStep, channel.timePerSample);
        EXPECT_NEAR(spectrum.strongest->levelDb, dbv(20 * VoltsPerStep / std::numbers::sqrt2) - 0.7,
                    0.8);
    }
}

TEST(MeasureSpectrum, TheMeanIsRemoved) {
    // The same sine (four whole periods) higher up the screen: every line the same, DC
    // included, and DC far below the sine.
    const auto low = decodedFrame(shape(sim::Waveform::Sine, 4 * 781.25, 12, 20));
    const auto high = decodedFrame(shape(sim::Waveform::Sine, 4 * 781.25, 12, 45));
    const auto a = measure::computeSpectrum(low.samples, low.voltsPerStep, low.timePerSample);
    const auto b = measure::computeSpectrum(high.samples, high.voltsPerStep, high.timePerSample);
    ASSERT_EQ(a.levelDb.size(), b.levelDb.size());
    for (std::size_t k = 0; k < a.levelDb.size(); ++k) {
        EXPECT_NEAR(a.levelDb[k], b.levelDb[k], 1e-6) << k;
    }
    ASSERT_TRUE(a.strongest);
    EXPECT_LT(a.levelDb[0], a.strongest->levelDb - 40.0);
}

TEST(MeasureSpectrum, FlatTraceHasNoStrongestLine) {
    const auto channel = decodedFrame(shape(sim::Waveform::Flat, 2000.0, 0, 40));
    const auto spectrum =
        measure::computeSpectrum(channel.samples, channel.voltsPerStep, channel.timePerSample);
    ASSERT_EQ(spectrum.levelDb.size(), measure::SpectrumLines);
    EXPECT_FALSE(spectrum.strongest);
    for (double level : spectrum.levelDb) {
        EXPECT_EQ(level, measure::SpectrumFloorDb);
    }
}

// ---- The scope's reading ----

TEST(MeasureReading, ScaledByTheRangeWithSignAndMarks) {
    const auto r1 =
        measure::scaleReading({1, 2, 3, 0}, sim::switchesByte(sim::Coupling::Dc, sim::Range::V1));
    ASSERT_TRUE(r1.volts);
    EXPECT_DOUBLE_EQ(*r1.volts, 1.23);
    EXPECT_EQ(r1.decimals, 2);
    const auto r10 = measure::scaleReading({1, 2, 3, 0x10},
                                           sim::switchesByte(sim::Coupling::Ac, sim::Range::V10));
    ASSERT_TRUE(r10.volts);
    EXPECT_DOUBLE_EQ(*r10.volts, -12.3);
    EXPECT_EQ(r10.decimals, 1);
    const auto r100 = measure::scaleReading(
        {1, 2, 3, 0x01}, sim::switchesByte(sim::Coupling::Gnd, sim::Range::V100));
    ASSERT_TRUE(r100.volts);
    EXPECT_DOUBLE_EQ(*r100.volts, 123.0);
    EXPECT_TRUE(r100.high);
    EXPECT_FALSE(r100.low);
    const auto low = measure::scaleReading({0, 0, 0, 0x12}, 0);
    ASSERT_TRUE(low.volts);
    EXPECT_FALSE(std::signbit(*low.volts)); // zero has no sign
    EXPECT_TRUE(low.low);
    EXPECT_FALSE(low.high);
}

TEST(MeasureReading, NoValueForADigitOverNineOrARangeWithoutRow) {
    EXPECT_FALSE(measure::scaleReading({1, 10, 3, 0}, 0).volts);
    EXPECT_FALSE(measure::scaleReading({1, 2, 3, 0}, 0x0C).volts);
    EXPECT_TRUE(measure::scaleReading({1, 2, 3, 0x01}, 0x0C).high); // the marks still show
}

TEST(MeasureReading, WrittenWithItsDecimalsItIsTheLogsText) {
    // The value and the frame log's text agree for every reading and range.
    for (std::uint8_t switches : {0x20, 0x24, 0x28, 0x2C}) {
        for (int value = 0; value < 1000; value += 7) {
            for (std::uint8_t flags : {0x00, 0x10}) {
                const std::array<std::uint8_t, 4> reading = {
                    static_cast<std::uint8_t>(value / 100),
                    static_cast<std::uint8_t>(value / 10 % 10),
                    static_cast<std::uint8_t>(value % 10), flags};
                const auto scaled = measure::scaleReading(reading, switches);
                std::string text;
                if (scaled.volts) {
                    char buffer[32];
                    std::snprintf(buffer, sizeof buffer, "%.*f", scaled.decimals, *scaled.volts);
                    text = buffer;
                }
                EXPECT_EQ(text, link::readingText(reading, switches)) << value;
            }
        }
    }
}

// ---- Statistics ----

TEST(MeasureStatistics, MinimumMaximumAndMeanOfTheFramesWithAValue) {
    measure::Statistics stats;
    measure::Measurements m;
    m.frequency = 1000.0;
    m.peakToPeak = 0.5;
    stats.add(m);
    m.frequency = 3000.0;
    m.peakToPeak.reset();
    stats.add(m);
    m.frequency.reset();
    stats.add(m);
    m.frequency = 1100.0;
    stats.add(m);
    EXPECT_EQ(stats.frames(), 4u);
    const auto& f = stats.of(Quantity::Frequency);
    EXPECT_EQ(f.count, 3u);
    EXPECT_EQ(f.minimum, 1000.0);
    EXPECT_EQ(f.maximum, 3000.0);
    ASSERT_TRUE(f.mean());
    EXPECT_DOUBLE_EQ(*f.mean(), 5100.0 / 3);
    const auto& pp = stats.of(Quantity::PeakToPeak);
    EXPECT_EQ(pp.count, 1u);
    EXPECT_EQ(pp.minimum, 0.5);
    EXPECT_EQ(pp.maximum, 0.5);
    EXPECT_FALSE(stats.of(Quantity::RiseTime).mean());
}

TEST(MeasureStatistics, NegativeValuesAndResetStartAfresh) {
    measure::Statistics stats;
    measure::Measurements m;
    m.amplitude = -2.0; // not a real amplitude, but the tally must not start its minimum at 0
    stats.add(m);
    m.amplitude = -1.0;
    stats.add(m);
    EXPECT_EQ(stats.of(Quantity::Amplitude).minimum, -2.0);
    EXPECT_EQ(stats.of(Quantity::Amplitude).maximum, -1.0);
    stats.reset();
    EXPECT_EQ(stats.frames(), 0u);
    EXPECT_EQ(stats.of(Quantity::Amplitude).count, 0u);
    EXPECT_FALSE(stats.of(Quantity::Amplitude).mean());
    m.amplitude = 4.0;
    stats.add(m);
    EXPECT_EQ(stats.of(Quantity::Amplitude).minimum, 4.0);
    EXPECT_EQ(stats.of(Quantity::Amplitude).maximum, 4.0);
}

TEST(MeasureStatistics, EveryQuantityHasANameAUnitAndItsOwnField) {
    measure::Measurements m;
    double value = 1.0;
    m.peakToPeak = value++;
    m.amplitude = value++;
    m.acRms = value++;
    m.frequency = value++;
    m.period = value++;
    m.widthPositive = value++;
    m.widthNegative = value++;
    m.dutyPositive = value++;
    m.riseTime = value++;
    m.fallTime = value++;
    for (std::size_t i = 0; i < measure::QuantityCount; ++i) {
        const Quantity q = measure::AllQuantities[i];
        EXPECT_EQ(measure::valueOf(m, q), static_cast<double>(i + 1));
        EXPECT_FALSE(measure::quantityName(q).empty());
        EXPECT_FALSE(measure::quantityUnit(q).empty());
    }
}

} // namespace
