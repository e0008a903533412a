// One frame's measurements and spectrum, as the Measurements window computes them after every
// frame drawn, beside the screen update they follow (BM_renderScreen, render_bench.cpp): run
// both in one run and compare, e.g.
//   veltrace_bench --benchmark_filter='BM_renderScreen|BM_measure'
// The frame is a live-looking sine (2.5 periods, 24 steps high) and, since edges cost more than
// slopes, a square of the same height.
#include "measure/measure.h"
#include "simframes/frames.h"

#include <benchmark/benchmark.h>

namespace {

using namespace veltrace;

sim::FrameSamplesArray frameOf(sim::Waveform waveform) {
    sim::WaveShape shape;
    shape.waveform = waveform;
    shape.frequencyHz = 2.5 / (128 * 5e-6); // 2.5 periods in a frame of 5 us samples
    shape.amplitude = 24;
    shape.offset = 32;
    std::uint32_t noise = 1;
    return sim::sampleWaveform(shape, 5.0, 0.0, noise);
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

} // namespace
