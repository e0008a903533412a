// Writes the recordings in tests/data from the simulated scope's frame builder. They are
// committed; this program says how they were made and makes them again if the format or the
// frame builder ever changes on purpose (the golden checksums then change with them).
//   build/tests/veltrace-test-recordings tests/data
#include "record/recording.h"
#include "simframes/frames.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace veltrace;
using Bytes = std::vector<std::uint8_t>;

// 2026-01-15 10:00:00 UTC.
constexpr std::int64_t StartMicros = 1768471200LL * 1000000;

sim::FrameSamplesArray wave(sim::Waveform waveform, double frequencyHz, int amplitude, int offset,
                            int timebase, int frame, std::uint32_t& noise) {
    const double perSample = sim::timePerSampleUs(timebase);
    return sim::sampleWaveform({waveform, frequencyHz, amplitude, offset}, perSample,
                               frame * 1000.0 * perSample, noise);
}

// The stream as the port delivers it at the line's pace: 21 or 22 bytes every 10 ms.
Bytes recording(const Bytes& stream) {
    Bytes file = record::encodeHeader(StartMicros);
    std::size_t at = 0;
    for (std::uint32_t tick = 1; at < stream.size(); ++tick) {
        const std::size_t size = std::min<std::size_t>(tick % 3 == 0 ? 22 : 21, stream.size() - at);
        record::appendChunks(file, 10 * tick,
                             Bytes(stream.begin() + static_cast<long>(at),
                                   stream.begin() + static_cast<long>(at + size)));
        at += size;
    }
    return file;
}

void append(Bytes& stream, const Bytes& frame) {
    stream.insert(stream.end(), frame.begin(), frame.end());
}

// Twenty-four frames of four waveforms over the three ranges, with readings of every kind.
Bytes cleanStream() {
    Bytes stream;
    std::uint32_t noise = 3;
    const sim::Waveform waves[] = {sim::Waveform::Sine, sim::Waveform::Square,
                                   sim::Waveform::Triangle, sim::Waveform::Noise};
    const sim::Range ranges[] = {sim::Range::V1, sim::Range::V10, sim::Range::V100};
    const std::uint8_t flags[] = {0x00, 0x10, 0x01, 0x02, 0x11, 0x12};
    for (int f = 0; f < 24; ++f) {
        const int timebase = 4 + f % 4;
        const sim::FrameSettings settings{sim::switchesByte(sim::Coupling::Dc, ranges[f % 3]),
                                          static_cast<std::uint8_t>(timebase),
                                          sim::triggerByte(sim::Source::IntPlus, false),
                                          sim::levelByte(sim::Level::P01)};
        const auto digits = std::array<std::uint8_t, 4>{
            static_cast<std::uint8_t>(f % 10), static_cast<std::uint8_t>((f * 3) % 10),
            static_cast<std::uint8_t>((f * 7) % 10), flags[f % 6]};
        append(stream, sim::buildFrame(settings,
                                       wave(waves[f % 4], 700.0 + 50 * f, 20 + f, 30 + f % 20,
                                            timebase, f, noise),
                                       0x7C + f % 4, digits));
    }
    return stream;
}

// Forty frames through a line that drops and flips bytes now and then.
Bytes corruptedStream() {
    Bytes clean;
    std::uint32_t noise = 5;
    for (int f = 0; f < 40; ++f) {
        const sim::FrameSettings settings{sim::switchesByte(sim::Coupling::Ac, sim::Range::V10), 6,
                                          sim::triggerByte(sim::Source::ExtMinus, f % 5 == 0),
                                          sim::levelByte(sim::Level::M03)};
        append(clean,
               sim::buildFrame(settings, wave(sim::Waveform::Sine, 1000.0, 35, 60, 6, f, noise),
                               0x7C, {1, 0, static_cast<std::uint8_t>(f % 10), 0x10}));
    }
    std::uint32_t line = 0xC0FFEE;
    return sim::corruptBytes(clean, 0.002, 0.004, line);
}

// One frame for every code of every settings byte, and the codes no table names.
Bytes settingsStream() {
    Bytes stream;
    std::uint32_t noise = 9;
    int f = 0;
    auto add = [&](sim::FrameSettings settings) {
        const int timebase = settings.timebase <= 9 ? settings.timebase : 6;
        append(stream, sim::buildFrame(settings,
                                       wave(sim::Waveform::Triangle, 400.0 + 37 * f, 25, 40,
                                            timebase, f, noise),
                                       0x7C, {static_cast<std::uint8_t>(f % 10), 5, 0, 0}));
        ++f;
    };
    const std::uint8_t intRun = sim::triggerByte(sim::Source::IntPlus, false);
    const std::uint8_t level = sim::levelByte(sim::Level::P01);
    for (auto coupling : {sim::Coupling::Gnd, sim::Coupling::Ac, sim::Coupling::Dc}) {
        for (auto range : {sim::Range::V1, sim::Range::V10, sim::Range::V100}) {
            add({sim::switchesByte(coupling, range), 6, intRun, level});
        }
    }
    const std::uint8_t dc10 = sim::switchesByte(sim::Coupling::Dc, sim::Range::V10);
    for (std::uint8_t timebase = 0; timebase <= 9; ++timebase) {
        add({dc10, timebase, intRun, level});
    }
    for (auto source : {sim::Source::Auto, sim::Source::ExtMinus, sim::Source::ExtPlus,
                        sim::Source::IntMinus, sim::Source::IntPlus}) {
        for (bool single : {false, true}) {
            add({dc10, 6, sim::triggerByte(source, single), level});
        }
    }
    for (auto l : {sim::Level::M05, sim::Level::P05, sim::Level::P03, sim::Level::P01,
                   sim::Level::M01, sim::Level::M03}) {
        add({dc10, 6, intRun, sim::levelByte(l)});
    }
    // No row: both coupling bits, both range bits, timebase 12, a trigger with bit 1 only, two
    // sources, two levels.
    add({0x34, 6, intRun, level});
    add({0x2C, 6, intRun, level});
    add({dc10, 12, intRun, level});
    add({dc10, 6, 0x02, level});
    add({dc10, 6, 0x50, level});
    add({dc10, 6, intRun, 0x0C});
    return stream;
}

// Ten frames as `cat` leaves them from a terminal left at eight bits: the stop bit in bit 7.
Bytes rawDump() {
    Bytes stream;
    std::uint32_t noise = 11;
    for (int f = 0; f < 10; ++f) {
        append(stream, sim::buildFrame({sim::switchesByte(sim::Coupling::Dc, sim::Range::V1), 8,
                                        sim::triggerByte(sim::Source::IntMinus, false),
                                        sim::levelByte(sim::Level::P05)},
                                       wave(sim::Waveform::Square, 60.0, 30, 50, 8, f, noise)));
    }
    for (std::uint8_t& byte : stream) {
        byte |= 0x80;
    }
    return stream;
}

bool write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const bool ok = write(dir + "/clean.vtrec", recording(cleanStream())) &&
                    write(dir + "/corrupted.vtrec", recording(corruptedStream())) &&
                    write(dir + "/settings.vtrec", recording(settingsStream())) &&
                    write(dir + "/dump.bin", rawDump());
    if (!ok) {
        std::fprintf(stderr, "veltrace-test-recordings: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
