// The measurements on arbitrary frames: any 128 sample bytes (the decoder stores whatever comes,
// so the window measures eight-bit values too) with any of the scales the decoder can give, and
// none. After every input: each value is finite and not negative, the heights keep their order
// (amplitude within the peak to peak, the RMS within half of it), no time is longer than the
// frame, the duty cycle is a share, the spectrum's levels are finite and at least its floor,
// and a trace moved up or down by a whole step measures the same.
#include "measure/measure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

namespace measure = veltrace::measure;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "measure_fuzz: %s\n", what);
    std::abort();
}

// What the decoder's tables give, and 0 for a channel without a frame.
constexpr std::array<double, 4> VoltsPerStep = {0.015625, 0.15625, 1.5625, 0.0};
constexpr std::array<double, 11> MicrosecondsPerSample = {0.05, 0.1, 0.5, 1,    5, 10,
                                                          50,   100, 500, 1000, 0};

void check(const measure::Measurements& m, double microseconds) {
    for (measure::Quantity q : measure::AllQuantities) {
        if (const auto v = measure::valueOf(m, q)) {
            if (!std::isfinite(*v) || *v < 0.0) {
                fail("a value that is not finite, or negative");
            }
        }
    }
    if (m.peakToPeak.has_value() != m.amplitude.has_value() ||
        m.peakToPeak.has_value() != m.acRms.has_value()) {
        fail("heights of one frame, some there and some not");
    }
    if (m.peakToPeak && (*m.amplitude > *m.peakToPeak * (1 + 1e-12) ||
                         *m.acRms > *m.peakToPeak / 2 * (1 + 1e-12))) {
        fail("amplitude over the peak to peak, or RMS over half of it");
    }
    const double frameSeconds = measure::MeasuredSamples * microseconds * 1e-6;
    for (const auto& t : {m.period, m.widthPositive, m.widthNegative, m.riseTime, m.fallTime}) {
        if (t && *t > frameSeconds * (1 + 1e-12)) {
            fail("a time longer than the frame");
        }
    }
    if (m.dutyPositive && *m.dutyPositive > 100.0 + 1e-9) {
        fail("a duty cycle over 100 %");
    }
    if (m.frequency.has_value() != m.period.has_value()) {
        fail("a frequency without a period, or the other way round");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 + measure::MeasuredSamples) {
        return 0;
    }
    const double volts = VoltsPerStep[data[0] & 3];
    const double microseconds =
        MicrosecondsPerSample[(data[0] >> 2) % MicrosecondsPerSample.size()];
    std::array<std::uint8_t, measure::MeasuredSamples> samples{};
    std::copy_n(data + 1, samples.size(), samples.begin());

    const auto m = measure::measureFrame(samples, volts, microseconds);
    check(m, microseconds);
    const auto spectrum = measure::computeSpectrum(samples, volts, microseconds);
    if (volts == 0.0 || microseconds == 0.0) {
        for (measure::Quantity q : measure::AllQuantities) {
            if (measure::valueOf(m, q)) {
                fail("a value without a frame");
            }
        }
        if (!spectrum.levelDb.empty()) {
            fail("a spectrum without a frame");
        }
        return 0;
    }
    for (double level : spectrum.levelDb) {
        if (!std::isfinite(level) || level < measure::SpectrumFloorDb) {
            fail("a spectrum level that is not finite, or under the floor");
        }
    }
    if (spectrum.strongest &&
        (spectrum.strongest->line == 0 || spectrum.strongest->line >= measure::SpectrumLines)) {
        fail("the strongest line is DC or past half the sample rate");
    }

    // One step up measures the same, unless that moves the trace into or out of the screen's
    // edges (then the heights come or go).
    if (*std::max_element(samples.begin(), samples.end()) < 255) {
        auto moved = samples;
        for (auto& sample : moved) {
            ++sample;
        }
        const auto n = measure::measureFrame(moved, volts, microseconds);
        for (measure::Quantity q : measure::AllQuantities) {
            const auto a = measure::valueOf(m, q);
            const auto b = measure::valueOf(n, q);
            const bool same = a.has_value() == b.has_value() &&
                              (!a || std::abs(*a - *b) <= 1e-9 * std::max(1.0, std::abs(*a)));
            if (!same && m.clipped == n.clipped) {
                fail("a trace one step higher measures differently");
            }
        }
    }
    return 0;
}
