// How each measurement is had, in sample steps and sample times first and converted to volts and
// seconds last:
// - peak to peak: highest minus lowest sample;
// - amplitude: top minus base, the most common level above and below the middle of the trace;
//   where no level dominates (a sine, a triangle, noise) the extremes stand for top and base;
// - edges: crossings of the mid level between base and top, with a hysteresis band of 10 % of
//   the peak to peak around it, so that noise riding on a level is no edge; the crossing time is
//   interpolated between the two samples that straddle the mid level;
// - period: the mean distance of successive rising (else falling) crossings; at least two;
// - widths: the mean of the complete high (rising to falling) and low (falling to rising) runs;
//   the duty cycle: the time high over the whole periods the period was taken over;
// - AC RMS: about the mean, over the whole periods between the first and last rising crossing
//   when there are any (a part period would weigh one level more), else over the frame;
// - rise and fall: from 10 % to 90 % of the amplitude across each complete edge, interpolated.
#include "measure/measure.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <numbers>

namespace veltrace::measure {

namespace {

// A trace must span this many steps before its crossings count as edges: one or two steps are
// the converter's own rounding of a level.
constexpr int MinimumEdgeSteps = 3;
constexpr double HysteresisShare = 0.10;
constexpr double MinimumHysteresisSteps = 0.5;
// A level is a level (a pulse's top or base) when it holds this share of its half's samples;
// a sine or triangle spreads its samples and keeps well below it.
constexpr double LevelShare = 0.25;

bool usableScale(double value) {
    return std::isfinite(value) && value > 0.0;
}

struct Edge {
    bool rising;
    double time; // in samples, interpolated
};

// Time (in samples) where the trace passes `level` going up (rising) or down, searching
// backwards from the pair of samples at `from` - 1 and `from` for an earlier pass, or forwards
// from the pair at `from` and `from` + 1 for a later one; between the two samples on a straight
// line. Empty when the frame ends first.
std::optional<double> passBackward(std::span<const std::uint8_t> s, int from, double level,
                                   bool rising) {
    for (int k = from - 1; k >= 0; --k) {
        const double a = s[k];
        const double b = s[k + 1];
        if (rising ? (a < level && b >= level) : (a > level && b <= level)) {
            return k + (level - a) / (b - a);
        }
    }
    return std::nullopt;
}

std::optional<double> passForward(std::span<const std::uint8_t> s, int from, double level,
                                  bool rising) {
    for (int k = std::max(from, 0); k + 1 < static_cast<int>(s.size()); ++k) {
        const double a = s[k];
        const double b = s[k + 1];
        if (rising ? (a < level && b >= level) : (a > level && b <= level)) {
            return k + (level - a) / (b - a);
        }
    }
    return std::nullopt;
}

std::vector<Edge> findEdges(std::span<const std::uint8_t> s, double mid, double hysteresis) {
    const double high = mid + hysteresis;
    const double low = mid - hysteresis;
    std::vector<Edge> edges;
    int state = 0; // +1 above the band, -1 below, 0 not known yet
    for (int i = 0; i < static_cast<int>(s.size()); ++i) {
        const double x = s[i];
        if (x >= high) {
            if (state < 0) {
                edges.push_back({true, passBackward(s, i, mid, true).value_or(i)});
            }
            state = 1;
        } else if (x <= low) {
            if (state > 0) {
                edges.push_back({false, passBackward(s, i, mid, false).value_or(i)});
            }
            state = -1;
        }
    }
    return edges;
}

// Mean 10 % -> 90 % (or 90 % -> 10 %) time over the complete edges of one direction.
std::optional<double> transitionTime(std::span<const std::uint8_t> s,
                                     const std::vector<Edge>& edges, bool rising, double base,
                                     double top) {
    const double level10 = base + 0.1 * (top - base);
    const double level90 = base + 0.9 * (top - base);
    const double first = rising ? level10 : level90;
    const double second = rising ? level90 : level10;
    double sum = 0.0;
    int count = 0;
    for (const Edge& edge : edges) {
        if (edge.rising != rising) {
            continue;
        }
        const int crossing = static_cast<int>(std::floor(edge.time));
        const auto start = passBackward(s, crossing + 1, first, rising);
        const auto end = passForward(s, crossing, second, rising);
        if (start && end && *end >= *start) {
            sum += *end - *start;
            ++count;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    return sum / count;
}

// The most common value in [from, to], the one furthest from the middle on a tie; empty when it
// holds less than LevelShare of the samples in that range.
std::optional<int> dominantLevel(const std::array<int, 256>& histogram, int from, int to,
                                 bool upper) {
    int best = -1;
    int bestCount = 0;
    int total = 0;
    for (int v = from; v <= to; ++v) {
        total += histogram[v];
        if (histogram[v] > bestCount || (histogram[v] == bestCount && upper && bestCount > 0)) {
            best = v;
            bestCount = histogram[v];
        }
    }
    if (best < 0 || bestCount < LevelShare * total) {
        return std::nullopt;
    }
    return best;
}

double meanOf(std::span<const std::uint8_t> s) {
    double sum = 0.0;
    for (std::uint8_t v : s) {
        sum += v;
    }
    return sum / static_cast<double>(s.size());
}

double rmsAboutMean(std::span<const std::uint8_t> s) {
    const double mean = meanOf(s);
    double sum = 0.0;
    for (std::uint8_t v : s) {
        sum += (v - mean) * (v - mean);
    }
    return std::sqrt(sum / static_cast<double>(s.size()));
}

std::span<const std::uint8_t> drawn(std::span<const std::uint8_t> samples) {
    return samples.first(std::min(samples.size(), MeasuredSamples));
}

} // namespace

std::string_view quantityName(Quantity quantity) {
    switch (quantity) {
    case Quantity::PeakToPeak:
        return "Peak to peak";
    case Quantity::Amplitude:
        return "Amplitude";
    case Quantity::AcRms:
        return "AC RMS";
    case Quantity::Frequency:
        return "Frequency";
    case Quantity::Period:
        return "Period";
    case Quantity::WidthPositive:
        return "+Width";
    case Quantity::WidthNegative:
        return "-Width";
    case Quantity::DutyPositive:
        return "+Duty";
    case Quantity::RiseTime:
        return "Rise time";
    case Quantity::FallTime:
        return "Fall time";
    }
    return "";
}

std::string_view quantityUnit(Quantity quantity) {
    switch (quantity) {
    case Quantity::PeakToPeak:
    case Quantity::Amplitude:
    case Quantity::AcRms:
        return "V";
    case Quantity::Frequency:
        return "Hz";
    case Quantity::DutyPositive:
        return "%";
    case Quantity::Period:
    case Quantity::WidthPositive:
    case Quantity::WidthNegative:
    case Quantity::RiseTime:
    case Quantity::FallTime:
        return "s";
    }
    return "";
}

std::optional<double> valueOf(const Measurements& m, Quantity quantity) {
    switch (quantity) {
    case Quantity::PeakToPeak:
        return m.peakToPeak;
    case Quantity::Amplitude:
        return m.amplitude;
    case Quantity::AcRms:
        return m.acRms;
    case Quantity::Frequency:
        return m.frequency;
    case Quantity::Period:
        return m.period;
    case Quantity::WidthPositive:
        return m.widthPositive;
    case Quantity::WidthNegative:
        return m.widthNegative;
    case Quantity::DutyPositive:
        return m.dutyPositive;
    case Quantity::RiseTime:
        return m.riseTime;
    case Quantity::FallTime:
        return m.fallTime;
    }
    return std::nullopt;
}

Measurements measureFrame(std::span<const std::uint8_t> samples, double voltsPerStep,
                          double microsecondsPerSample) {
    Measurements m;
    const auto s = drawn(samples);
    if (s.size() < 2 || !usableScale(voltsPerStep) || !usableScale(microsecondsPerSample)) {
        return m;
    }
    const double secondsPerSample = microsecondsPerSample * 1e-6;
    const auto [lowest, highest] = std::minmax_element(s.begin(), s.end());
    const int minimum = *lowest;
    const int maximum = *highest;
    m.clipped = minimum < LowestUnclippedValue || maximum > HighestUnclippedValue;
    const int peakToPeak = maximum - minimum;

    std::array<int, 256> histogram{};
    for (std::uint8_t v : s) {
        ++histogram[v];
    }
    // The middle splits the two halves; a value on it belongs to neither.
    const int lowerEnd = (minimum + maximum - 1) / 2;
    const int upperStart = (minimum + maximum) / 2 + 1;
    const int top = dominantLevel(histogram, upperStart, maximum, true).value_or(maximum);
    const int base = dominantLevel(histogram, minimum, lowerEnd, false).value_or(minimum);

    std::vector<Edge> edges;
    if (peakToPeak >= MinimumEdgeSteps) {
        const double mid = (top + base) / 2.0;
        const double hysteresis = std::max(HysteresisShare * peakToPeak, MinimumHysteresisSteps);
        edges = findEdges(s, mid, hysteresis);
    }

    std::vector<double> rising;
    std::vector<double> falling;
    for (const Edge& edge : edges) {
        (edge.rising ? rising : falling).push_back(edge.time);
    }
    const std::vector<double>& periodEdges = rising.size() >= 2 ? rising : falling;
    std::optional<double> periodSamples;
    if (periodEdges.size() >= 2) {
        periodSamples = (periodEdges.back() - periodEdges.front()) /
                        static_cast<double>(periodEdges.size() - 1);
        m.period = *periodSamples * secondsPerSample;
        m.frequency = 1.0 / *m.period;
    }

    double highSum = 0.0;
    double lowSum = 0.0;
    int highCount = 0;
    int lowCount = 0;
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        const double width = edges[i + 1].time - edges[i].time;
        if (edges[i].rising) {
            highSum += width;
            ++highCount;
        } else {
            lowSum += width;
            ++lowCount;
        }
    }
    if (highCount > 0) {
        m.widthPositive = highSum / highCount * secondsPerSample;
    }
    if (lowCount > 0) {
        m.widthNegative = lowSum / lowCount * secondsPerSample;
    }
    if (periodSamples) {
        // The high share of the whole periods the period was taken over, so that an uneven
        // train (other widths in other periods) still gives a share of one time span.
        const bool fromRising = rising.size() >= 2;
        std::size_t first = 0;
        while (edges[first].rising != fromRising) {
            ++first;
        }
        std::size_t last = edges.size() - 1;
        while (edges[last].rising != fromRising) {
            --last;
        }
        double high = 0.0;
        for (std::size_t i = first; i < last; ++i) {
            if (edges[i].rising) {
                high += edges[i + 1].time - edges[i].time;
            }
        }
        m.dutyPositive = high / (edges[last].time - edges[first].time) * 100.0;
    }

    if (m.clipped) {
        return m;
    }
    m.peakToPeak = peakToPeak * voltsPerStep;
    m.amplitude = (top - base) * voltsPerStep;
    std::span<const std::uint8_t> rmsSpan = s;
    if (rising.size() >= 2) {
        const auto first = static_cast<std::size_t>(std::ceil(rising.front()));
        const auto last = static_cast<std::size_t>(std::ceil(rising.back()));
        rmsSpan = s.subspan(first, last - first);
    }
    m.acRms = rmsAboutMean(rmsSpan) * voltsPerStep;
    if (top > base) {
        if (const auto rise = transitionTime(s, edges, true, base, top)) {
            m.riseTime = *rise * secondsPerSample;
        }
        if (const auto fall = transitionTime(s, edges, false, base, top)) {
            m.fallTime = *fall * secondsPerSample;
        }
    }
    return m;
}

namespace {

// The plain product of two complex numbers. The operator's own also mends the infinities and NaNs
// its formula can give, in a library call per product; a frame's finite samples never need it.
// By value: with references (one into the array the transform writes) the compiler goes through
// memory for every product, and the transform took 1.6 times as long.
std::complex<double> times(std::complex<double> p, std::complex<double> q) {
    return {p.real() * q.real() - p.imag() * q.imag(), p.real() * q.imag() + p.imag() * q.real()};
}

} // namespace

Spectrum computeSpectrum(std::span<const std::uint8_t> samples, double voltsPerStep,
                         double microsecondsPerSample) {
    Spectrum spectrum;
    constexpr std::size_t N = MeasuredSamples;
    if (samples.size() < N || !usableScale(voltsPerStep) || !usableScale(microsecondsPerSample)) {
        return spectrum;
    }
    const auto s = samples.first(N);
    const double mean = meanOf(s);
    // The periodic Hann window (its coherent gain is exactly one half) and the bit-reversed
    // order of the radix-2 transform, worked out once.
    struct Tables {
        std::array<double, N> window{};
        std::array<std::size_t, N> reversed{};
        double windowSum = 0.0;
    };
    static const Tables tables = [] {
        Tables t;
        constexpr int Bits = std::countr_zero(N);
        for (std::size_t i = 0; i < N; ++i) {
            t.window[i] = 0.5 * (1.0 - std::cos(2.0 * std::numbers::pi * i / N));
            t.windowSum += t.window[i];
            for (int b = 0; b < Bits; ++b) {
                t.reversed[i] |= ((i >> b) & 1u) << (Bits - 1 - b);
            }
        }
        return t;
    }();
    const double windowSum = tables.windowSum;
    std::array<std::complex<double>, N> x{};
    for (std::size_t i = 0; i < N; ++i) {
        x[tables.reversed[i]] = (s[i] - mean) * voltsPerStep * tables.window[i];
    }
    for (std::size_t length = 2; length <= N; length *= 2) {
        const std::complex<double> step = std::polar(1.0, -2.0 * std::numbers::pi / length);
        for (std::size_t start = 0; start < N; start += length) {
            std::complex<double> twiddle = 1.0;
            for (std::size_t k = 0; k < length / 2; ++k) {
                const auto a = x[start + k];
                const auto b = times(x[start + k + length / 2], twiddle);
                x[start + k] = a + b;
                x[start + k + length / 2] = a - b;
                twiddle = times(twiddle, step);
            }
        }
    }
    spectrum.lineSpacingHz = 1.0 / (N * microsecondsPerSample * 1e-6);
    spectrum.levelDb.resize(SpectrumLines);
    for (std::size_t k = 0; k < SpectrumLines; ++k) {
        // A line between DC and half the sample rate holds half a sine's peak (its mirror the
        // other half); the RMS of a sine is its peak over sqrt 2.
        const bool edgeLine = k == 0 || k == N / 2;
        const double peak = std::abs(x[k]) / windowSum * (edgeLine ? 1.0 : 2.0);
        const double rms = edgeLine ? peak : peak / std::numbers::sqrt2;
        spectrum.levelDb[k] =
            rms > 0.0 ? std::max(20.0 * std::log10(rms), SpectrumFloorDb) : SpectrumFloorDb;
    }
    for (std::size_t k = 1; k < SpectrumLines; ++k) {
        if (spectrum.levelDb[k] > SpectrumFloorDb &&
            (!spectrum.strongest || spectrum.levelDb[k] > spectrum.strongest->levelDb)) {
            spectrum.strongest = SpectrumLine{k, k * spectrum.lineSpacingHz, spectrum.levelDb[k]};
        }
    }
    return spectrum;
}

ScopeReading scaleReading(const std::array<std::uint8_t, 4>& reading, std::uint8_t switchesByte) {
    ScopeReading result;
    const std::uint8_t flags = reading[3];
    result.high = (flags & 0x01) != 0;
    result.low = (flags & 0x02) != 0;
    const int range = (switchesByte >> 2) & 3;
    if (range == 3 || reading[0] > 9 || reading[1] > 9 || reading[2] > 9) {
        return result;
    }
    result.decimals = 2 - range;
    const int value = reading[0] * 100 + reading[1] * 10 + reading[2];
    double volts = value / std::pow(10.0, result.decimals);
    // Zero has no sign, whatever the flag says.
    if ((flags & 0x10) != 0 && value != 0) {
        volts = -volts;
    }
    result.volts = volts;
    return result;
}

std::optional<double> Tally::mean() const {
    if (count == 0) {
        return std::nullopt;
    }
    return sum / static_cast<double>(count);
}

void Statistics::add(const Measurements& measurements) {
    ++frames_;
    for (Quantity quantity : AllQuantities) {
        const auto value = valueOf(measurements, quantity);
        if (!value) {
            continue;
        }
        Tally& tally = tallies_[static_cast<std::size_t>(quantity)];
        if (tally.count == 0) {
            tally.minimum = *value;
            tally.maximum = *value;
        } else {
            tally.minimum = std::min(tally.minimum, *value);
            tally.maximum = std::max(tally.maximum, *value);
        }
        tally.sum += *value;
        ++tally.count;
    }
}

void Statistics::reset() {
    *this = Statistics{};
}

} // namespace veltrace::measure
