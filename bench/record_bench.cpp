// What recording and logging add per read and per frame, beside the decoding of one frame that
// every frame costs anyway: appending a port read (21 bytes, what a 10 ms cycle takes at the line
// rate) to a recording, encoding it as a chunk, and formatting a frame as a CSV row.
#include "link/decoder.h"
#include "link/frame_log.h"
#include "record/recording.h"
#include "simframes/frames.h"
#include "state/scope_state.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace veltrace;

std::vector<std::uint8_t> oneFrame() {
    std::uint32_t noise = 1;
    return sim::buildFrame(
        {sim::switchesByte(sim::Coupling::Dc, sim::Range::V10), 6,
         sim::triggerByte(sim::Source::IntPlus, false), sim::levelByte(sim::Level::P01)},
        sim::sampleWaveform({sim::Waveform::Sine, 1000.0, 40, 62}, 50.0, 0.0, noise), 0x7C,
        {1, 2, 3, 0x10});
}

// The baseline: decoding one frame, byte by byte, into a channel.
void BM_DecodeOneFrame(benchmark::State& state) {
    const std::vector<std::uint8_t> frame = oneFrame();
    link::FrameDecoder decoder;
    state::ChannelData channel;
    for (auto _ : state) {
        int frames = 0;
        for (std::uint8_t byte : frame) {
            frames += link::decodeFrameByte(decoder, byte, channel);
        }
        benchmark::DoNotOptimize(frames);
    }
}
BENCHMARK(BM_DecodeOneFrame);

// Encoding one 21-byte read as a chunk (header, check, CRC-32), the work append() does under the
// writer's lock.
void BM_EncodeRead(benchmark::State& state) {
    const std::vector<std::uint8_t> read(21, 0x2A);
    std::vector<std::uint8_t> pending;
    pending.reserve(1 << 20);
    std::uint32_t ms = 0;
    for (auto _ : state) {
        record::appendChunks(pending, ms += 10, read);
        if (pending.size() > (1 << 19)) {
            pending.clear();
        }
        benchmark::DoNotOptimize(pending.data());
    }
}
BENCHMARK(BM_EncodeRead);

// append() on a live writer, its thread writing and syncing to a file in /tmp meanwhile.
void BM_RecordRead(benchmark::State& state) {
    const std::string path = "/tmp/veltrace-bench-" + std::to_string(getpid()) + ".vtrec";
    std::remove(path.c_str());
    record::RecordingWriter::Options options;
    options.memoryLimit = 256u << 20;
    std::string error;
    auto writer = record::RecordingWriter::create(path, record::RecordingWriter::Existing::Refuse,
                                                  error, options);
    if (!writer) {
        state.SkipWithError(error.c_str());
        return;
    }
    const std::vector<std::uint8_t> read(21, 0x2A);
    for (auto _ : state) {
        writer->append(read);
    }
    writer->close();
    if (writer->status().bytesDropped != 0) {
        state.SkipWithError("the writer dropped bytes: the figure would be of the drop path");
    }
    std::remove(path.c_str());
}
BENCHMARK(BM_RecordRead)->Iterations(200000);

// One frame as a CSV row, veltrace-log's work per frame beside the decoding.
void BM_CsvRow(benchmark::State& state) {
    const std::vector<std::uint8_t> frame = oneFrame();
    link::FrameDecoder decoder;
    state::ChannelData channel;
    for (std::uint8_t byte : frame) {
        link::decodeFrameByte(decoder, byte, channel);
    }
    std::int64_t time = 1768471200LL * 1000000;
    for (auto _ : state) {
        benchmark::DoNotOptimize(link::frameIsWhole(decoder, channel));
        std::string row = link::csvRow(time += 64500, 42, decoder, channel);
        benchmark::DoNotOptimize(row.data());
    }
}
BENCHMARK(BM_CsvRow);

} // namespace
