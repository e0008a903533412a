// How fast the frame decoder eats a byte stream. The line delivers about 2133 bytes per second;
// the figure here shows how much room the acquisition thread has beside the redraws.
#include "link/decoder.h"
#include "simframes/frames.h"
#include "state/scope_state.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <mutex>
#include <vector>

namespace {

namespace sim = veltrace::sim;

// A few hundred frames with changing settings and waveforms, as a live device would send.
std::vector<std::uint8_t> liveStream(int frames) {
    std::vector<std::uint8_t> stream;
    std::uint32_t noise = 1;
    const sim::Coupling couplings[] = {sim::Coupling::Dc, sim::Coupling::Ac, sim::Coupling::Gnd};
    const sim::Source sources[] = {sim::Source::IntPlus, sim::Source::Auto, sim::Source::ExtMinus};
    for (int f = 0; f < frames; ++f) {
        const int timebase = f % 10;
        const sim::FrameSettings settings{sim::switchesByte(couplings[f % 3], sim::Range::V10),
                                          static_cast<std::uint8_t>(timebase),
                                          sim::triggerByte(sources[f % 3], f % 2 == 0),
                                          sim::levelByte(sim::Level::P01)};
        const sim::WaveShape shape{f % 4 == 3 ? sim::Waveform::Noise : sim::Waveform::Sine, 1000.0,
                                   40, 62};
        const auto samples = sim::sampleWaveform(shape, sim::timePerSampleUs(timebase),
                                                 f * 128 * sim::timePerSampleUs(timebase), noise);
        const auto frame = sim::buildFrame(settings, samples);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

void BM_DecodeFrameByte(benchmark::State& state) {
    veltrace::state::resetScopeState();
    const std::vector<std::uint8_t> stream = liveStream(500);
    std::int64_t frames = 0;
    veltrace::link::FrameDecoder decoder;
    auto& scope = veltrace::state::scope;
    for (auto _ : state) {
        // The acquisition thread holds the scope lock for a whole batch, not per byte, and reads
        // the selected channel at every byte.
        std::lock_guard<std::recursive_mutex> guard(veltrace::state::scopeLock());
        for (std::uint8_t byte : stream) {
            frames += veltrace::link::decodeFrameByte(decoder, byte,
                                                      scope.channel[scope.currentChannel & 3]);
        }
    }
    benchmark::DoNotOptimize(frames);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(stream.size()));
    state.counters["frames"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeFrameByte);

} // namespace
