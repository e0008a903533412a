// One frame's measurements and spectrum, as the Measurements window computes them after every
// frame drawn, beside the screen update they follow (BM_renderScreen, render_bench.cpp): run
// both in one run and compare, e.g.
//   veltrace_bench --benchmark_filter='BM_renderScreen|BM_measure'
// The frame is a live-looking sine (2.5 periods, 24 steps high) and, since edges cost more than
// slopes, a square of the same height. BM_spectrumPicture: the spectrum's picture of one frame
// after another (a step of noise either way, as a real scope's last bit), drawn over one of three
// kept pictures as the window draws it ("kept"), and painted whole each time ("whole", what a new
// picture costs).
#include "display/spectrum_picture.h"
#include "measure/measure.h"
#include "simframes/frames.h"
#include "toolkit/toolkit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace {

using namespace veltrace;

sim::FrameSamplesArray frameOf(sim::Waveform waveform) {
    sim::WaveShape shape;
    shape.waveform = waveform;
    shape.frequencyHz = 2.5 / (128 * 5e-6); // 2.5 periods in a frame of 5 us samples
    shape.amplitude = 24;
    shape.offset = 32;
    std::uint32_t noiseState = 1;
    return sim::sampleWaveform(shape, 5.0, 0.0, noiseState);
}

constexpr double VoltsPerStep = 0.04;
constexpr double MicrosecondsPerSample = 5.0;

void BM_measureFrame(benchmark::State& state, sim::Waveform waveform) {
    const auto samples = frameOf(waveform);
    for (auto _ : state) {
        auto m = measure::measureFrame(samples, VoltsPerStep, MicrosecondsPerSample);
        benchmark::DoNotOptimize(m);
    }
}
BENCHMARK_CAPTURE(BM_measureFrame, sine, sim::Waveform::Sine);
BENCHMARK_CAPTURE(BM_measureFrame, square, sim::Waveform::Square);

void BM_measureSpectrum(benchmark::State& state) {
    const auto samples = frameOf(sim::Waveform::Sine);
    for (auto _ : state) {
        auto spectrum = measure::computeSpectrum(samples, VoltsPerStep, MicrosecondsPerSample);
        benchmark::DoNotOptimize(spectrum);
    }
}
BENCHMARK(BM_measureSpectrum);

// What the window adds to a frame: both, and the statistics.
void BM_measureAll(benchmark::State& state, sim::Waveform waveform) {
    const auto samples = frameOf(waveform);
    measure::Statistics statistics;
    for (auto _ : state) {
        const auto m = measure::measureFrame(samples, VoltsPerStep, MicrosecondsPerSample);
        statistics.add(m);
        auto spectrum = measure::computeSpectrum(samples, VoltsPerStep, MicrosecondsPerSample);
        benchmark::DoNotOptimize(spectrum);
    }
    benchmark::DoNotOptimize(statistics);
}
BENCHMARK_CAPTURE(BM_measureAll, sine, sim::Waveform::Sine);
BENCHMARK_CAPTURE(BM_measureAll, square, sim::Waveform::Square);

// The bars of a frame's spectrum on the window's scale: 20 rows for 10 dB, the strongest line
// 5 to 15 dB below the top.
display::SpectrumBars barsOf(const measure::Spectrum& spectrum) {
    display::SpectrumBars bars;
    bars.colour = toolkit::rgbColour(0, 255, 255);
    const double topDb = std::ceil((spectrum.strongest->levelDb + 5.0) / 10.0) * 10.0;
    for (const double level : spectrum.levelDb) {
        bars.tops.push_back(static_cast<int>(std::clamp(
            (topDb - level) * 2.0, 0.0, static_cast<double>(display::SpectrumHeight - 1))));
    }
    bars.strongest = static_cast<int>(spectrum.strongest->line);
    return bars;
}

void BM_spectrumPicture(benchmark::State& state, bool kept) {
    std::vector<display::SpectrumBars> frames;
    std::uint32_t noiseState = 1;
    for (int i = 0; i < 16; ++i) {
        sim::WaveShape shape;
        shape.waveform = sim::Waveform::Sine;
        shape.frequencyHz = 2.5 / (128 * 5e-6);
        shape.amplitude = 24;
        shape.offset = 32;
        shape.noise = 1;
        const auto samples = sim::sampleWaveform(shape, 5.0, 0.0, noiseState);
        frames.push_back(
            barsOf(measure::computeSpectrum(samples, VoltsPerStep, MicrosecondsPerSample)));
    }
    std::array<toolkit::Image, 3> pictures;
    std::array<display::SpectrumFootprint, 3> footprints;
    for (toolkit::Image& picture : pictures) {
        picture.width = display::spectrumWidth(static_cast<int>(measure::SpectrumLines));
        picture.height = display::SpectrumHeight;
        picture.rgb.resize(static_cast<std::size_t>(picture.width) * picture.height * 3);
    }
    std::size_t frame = 0;
    for (auto _ : state) {
        const std::size_t which = frame % pictures.size();
        if (!kept) {
            footprints[which].valid = false;
        }
        display::redrawSpectrum(pictures[which], frames[frame % frames.size()], footprints[which]);
        benchmark::DoNotOptimize(pictures[which].rgb.data());
        ++frame;
    }
}
BENCHMARK_CAPTURE(BM_spectrumPicture, kept, true);
BENCHMARK_CAPTURE(BM_spectrumPicture, whole, false);

} // namespace
