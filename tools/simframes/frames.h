// The simulated scope's frame builder: turns readable switch choices and a waveform into the
// exact bytes the handheld scope streams, so the simulator, the tests and the benchmarks all
// speak the same protocol without hand-assembling frames.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace veltrace::sim {

inline constexpr int FrameBytes = 138;
inline constexpr int FrameSamples = 129;
inline constexpr int SampleMax = 123; // highest sample value that cannot look like a sync byte

using FrameSamplesArray = std::array<std::uint8_t, FrameSamples>;

// The four settings bytes at frame positions 1..4, exactly as they go on the line.
struct FrameSettings {
    std::uint8_t switches = 0;
    std::uint8_t timebase = 0;
    std::uint8_t trigger = 0;
    std::uint8_t level = 0;
};

enum class Coupling { Gnd, Ac, Dc };
enum class Range { V1, V10, V100 };
enum class Source { Auto, ExtMinus, ExtPlus, IntMinus, IntPlus };
enum class Level { M05, P05, P03, P01, M01, M03 };

// Coupling in bits 5..4, range in bits 3..2.
std::uint8_t switchesByte(Coupling coupling, Range range);
// Source/slope in bits 3..6 (none for Auto), bit 0 set for single shot.
std::uint8_t triggerByte(Source source, bool single);
// The level bit (no bit at all for -0.5).
std::uint8_t levelByte(Level level);

// The whole frame: sync, the four settings bytes as given, 129 samples (clamped to 0..123),
// three reading digits (clamped to 0..9) and the reading flags (only bits 0, 1 and 4 kept), so
// nothing after the sync byte can be mistaken for a sync byte unless the caller's settings
// bytes are themselves sync-like. Always exactly 138 bytes.
std::vector<std::uint8_t> buildFrame(const FrameSettings& settings,
                                     const FrameSamplesArray& samples, std::uint8_t syncByte = 0x7C,
                                     std::array<std::uint8_t, 4> reading = {0, 0, 0, 0});

enum class Waveform { Sine, Square, Triangle, Noise, Flat };

// amplitude and offset are in sample steps (0..123 is the whole screen height).
struct WaveShape {
    Waveform waveform = Waveform::Sine;
    double frequencyHz = 1000.0;
    int amplitude = 40;
    int offset = 62;
    // Share of each period a square spends high, 0..1.
    double duty = 0.5;
    // Uniform noise of up to this many steps either way added to every sample (0: none, and
    // no draw from noiseState), so tests can ride noise on a clean shape.
    int noise = 0;
};

// Sample i is taken at startTimeUs + i * timePerSampleUs. noiseState is the generator state for
// Waveform::Noise (a zero state is replaced by a fixed non-zero seed); it advances so successive
// frames continue the same random sequence.
FrameSamplesArray sampleWaveform(const WaveShape& shape, double timePerSampleUs, double startTimeUs,
                                 std::uint32_t& noiseState);

// Microseconds per sample for timebase codes 0..9; 0 for any other code.
double timePerSampleUs(int timebaseCode);

// Next value of a small xorshift generator (a zero state is replaced by a fixed seed).
std::uint32_t nextRandom(std::uint32_t& state);

// Line trouble for tests: each byte is dropped with dropProbability, otherwise one of its seven
// line bits is flipped with flipProbability. Deterministic for a given rngState.
std::vector<std::uint8_t> corruptBytes(const std::vector<std::uint8_t>& bytes,
                                       double dropProbability, double flipProbability,
                                       std::uint32_t& rngState);

} // namespace veltrace::sim
