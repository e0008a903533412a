#include "simframes/frames.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace veltrace::sim {

namespace {

constexpr std::uint32_t DefaultSeed = 0x9E3779B9u;

std::uint8_t clampSample(long value) {
    return static_cast<std::uint8_t>(std::clamp<long>(value, 0, SampleMax));
}

// A uniform value in [0, 1).
double nextUnit(std::uint32_t& state) {
    return static_cast<double>(nextRandom(state) >> 8) / static_cast<double>(1u << 24);
}

// Wave value in -1..1 for the phase fraction 0..1, all shapes starting at 0 and rising like a
// sine so that switching shapes keeps the trace in step.
double shapeValue(Waveform waveform, double fraction, double duty) {
    switch (waveform) {
    case Waveform::Sine:
        return std::sin(2.0 * std::numbers::pi * fraction);
    case Waveform::Square:
        return fraction < duty ? 1.0 : -1.0;
    case Waveform::Triangle:
        if (fraction < 0.25) {
            return 4.0 * fraction;
        }
        if (fraction < 0.75) {
            return 2.0 - 4.0 * fraction;
        }
        return 4.0 * fraction - 4.0;
    case Waveform::Noise:
    case Waveform::Flat:
        break;
    }
    return 0.0;
}

} // namespace

std::uint8_t switchesByte(Coupling coupling, Range range) {
    std::uint8_t byte = 0;
    switch (coupling) {
    case Coupling::Gnd:
        break;
    case Coupling::Ac:
        byte |= 0x10;
        break;
    case Coupling::Dc:
        byte |= 0x20;
        break;
    }
    switch (range) {
    case Range::V1:
        break;
    case Range::V10:
        byte |= 0x04;
        break;
    case Range::V100:
        byte |= 0x08;
        break;
    }
    return byte;
}

std::uint8_t triggerByte(Source source, bool single) {
    std::uint8_t byte = single ? 0x01 : 0x00;
    switch (source) {
    case Source::Auto:
        break;
    case Source::ExtMinus:
        byte |= 0x08;
        break;
    case Source::ExtPlus:
        byte |= 0x10;
        break;
    case Source::IntMinus:
        byte |= 0x20;
        break;
    case Source::IntPlus:
        byte |= 0x40;
        break;
    }
    return byte;
}

std::uint8_t levelByte(Level level) {
    switch (level) {
    case Level::M05:
        return 0x00;
    case Level::P05:
        return 0x04;
    case Level::P03:
        return 0x08;
    case Level::P01:
        return 0x10;
    case Level::M01:
        return 0x20;
    case Level::M03:
        return 0x40;
    }
    return 0x00;
}

std::vector<std::uint8_t> buildFrame(const FrameSettings& settings,
                                     const FrameSamplesArray& samples, std::uint8_t syncByte,
                                     std::array<std::uint8_t, 4> reading) {
    std::vector<std::uint8_t> frame;
    frame.reserve(FrameBytes);
    frame.push_back(syncByte);
    frame.push_back(settings.switches);
    frame.push_back(settings.timebase);
    frame.push_back(settings.trigger);
    frame.push_back(settings.level);
    for (std::uint8_t sample : samples) {
        frame.push_back(clampSample(sample));
    }
    for (int digit = 0; digit < 3; ++digit) {
        frame.push_back(std::min<std::uint8_t>(reading[digit], 9));
    }
    frame.push_back(reading[3] & 0x13);
    return frame;
}

FrameSamplesArray sampleWaveform(const WaveShape& shape, double timePerSampleUs, double startTimeUs,
                                 std::uint32_t& noiseState) {
    FrameSamplesArray samples{};
    for (int i = 0; i < FrameSamples; ++i) {
        double value = 0.0;
        if (shape.waveform == Waveform::Noise) {
            value = (2.0 * nextUnit(noiseState) - 1.0);
        } else {
            const double timeUs = startTimeUs + i * timePerSampleUs;
            const double cycles = shape.frequencyHz * timeUs / 1e6;
            value = shapeValue(shape.waveform, cycles - std::floor(cycles), shape.duty);
        }
        long sample = std::lround(shape.offset + shape.amplitude * value);
        if (shape.noise > 0) {
            sample +=
                static_cast<long>(nextRandom(noiseState) % (2u * shape.noise + 1)) - shape.noise;
        }
        samples[i] = clampSample(sample);
    }
    return samples;
}

double timePerSampleUs(int timebaseCode) {
    static constexpr double table[10] = {0.05, 0.1, 0.5, 1, 5, 10, 50, 100, 500, 1000};
    if (timebaseCode < 0 || timebaseCode > 9) {
        return 0.0;
    }
    return table[timebaseCode];
}

std::uint32_t nextRandom(std::uint32_t& state) {
    if (state == 0) {
        state = DefaultSeed;
    }
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

std::vector<std::uint8_t> corruptBytes(const std::vector<std::uint8_t>& bytes,
                                       double dropProbability, double flipProbability,
                                       std::uint32_t& rngState) {
    std::vector<std::uint8_t> out;
    out.reserve(bytes.size());
    for (std::uint8_t byte : bytes) {
        if (dropProbability > 0.0 && nextUnit(rngState) < dropProbability) {
            continue;
        }
        if (flipProbability > 0.0 && nextUnit(rngState) < flipProbability) {
            byte ^= static_cast<std::uint8_t>(1u << (nextRandom(rngState) % 7));
        }
        out.push_back(byte);
    }
    return out;
}

} // namespace veltrace::sim
