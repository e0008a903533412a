// Recording what a source delivers and replaying it through the acquisition cycle: the same
// frames come back, a recording cut anywhere replays every frame that was complete before the
// cut, raw dumps replay, and the replay keeps the pace it is asked for.
#include "link/acquisition.h"
#include "link/decoder.h"
#include "link/memory_source.h"
#include "link/reconnecting_port.h"
#include "link/recording_sources.h"
#include "record/recording.h"
#include "simframes/frames.h"
#include "state/scope_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace veltrace::link {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using state::scope;

// What a handed-over frame showed.
struct Shown {
    std::string volts, timebase, trigger;
    std::array<std::uint8_t, state::SampleSlots> samples{};
    bool operator==(const Shown&) const = default;
};

Shown shown(const state::ChannelData& c) {
    return Shown{c.voltsText, c.timebaseText, c.triggerText, c.samples};
}

// Twelve frames that change every setting and waveform, with a broken start and one frame
// that lost bytes in the middle.
Bytes knownStream() {
    Bytes stream{0x11, 0x22, 0x33}; // the tail of a frame the recording began inside
    std::uint32_t noise = 7;
    const sim::Coupling couplings[] = {sim::Coupling::Dc, sim::Coupling::Ac, sim::Coupling::Gnd};
    const sim::Range ranges[] = {sim::Range::V10, sim::Range::V1, sim::Range::V100};
    for (int f = 0; f < 12; ++f) {
        const sim::FrameSettings settings{
            sim::switchesByte(couplings[f % 3], ranges[(f / 3) % 3]),
            static_cast<std::uint8_t>(f % 10),
            sim::triggerByte(f % 4 == 0 ? sim::Source::Auto : sim::Source::IntMinus, f % 2 == 1),
            sim::levelByte(sim::Level::P03)};
        const sim::WaveShape shape{f % 2 == 0 ? sim::Waveform::Sine : sim::Waveform::Noise,
                                   300.0 + 100 * f, 30, 60};
        Bytes frame = sim::buildFrame(settings, sim::sampleWaveform(shape, 50.0, f * 1e4, noise));
        if (f == 5) {
            frame.erase(frame.begin() + 40, frame.begin() + 43);
        }
        stream.insert(stream.end(), frame.begin(), frame.end());
    }
    return stream;
}

// The frames the acquisition cycle hands over from `source` until it has nothing more.
std::vector<Shown> acquire(std::shared_ptr<ByteSource> source,
                           const std::function<bool()>& finished) {
    state::resetScopeState();
    std::vector<Shown> frames;
    AcquisitionCycle cycle(
        AcquisitionJob{std::move(source), [&] { frames.push_back(shown(scope.channel[0])); }});
    for (int guard = 0; guard < 100000 && !finished(); ++guard) {
        EXPECT_TRUE(cycle.run());
    }
    EXPECT_TRUE(cycle.run()); // one more: nothing left behind
    return frames;
}

// The frames a decoder reports from a byte stream, decoded directly.
std::vector<Shown> decodeDirectly(const Bytes& bytes) {
    FrameDecoder decoder;
    state::ChannelData channel;
    std::vector<Shown> frames;
    for (std::uint8_t b : bytes) {
        if (decodeFrameByte(decoder, b, channel) == 1) {
            frames.push_back(shown(channel));
        }
    }
    return frames;
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

class RecordAndReplay : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltrace-replay-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(dir, error);
        state::resetScopeState();
    }
    std::unique_ptr<record::RecordingReader> open(const fs::path& path) {
        std::string error;
        auto reader = record::RecordingReader::open(path.string(), error);
        EXPECT_TRUE(reader) << error;
        return reader;
    }
    std::shared_ptr<ReplaySource> replay(const fs::path& path, double speed) {
        return std::make_shared<ReplaySource>(open(path), speed);
    }
    fs::path dir;
};

TEST_F(RecordAndReplay, ARecordingReplaysToTheSameFramesFrameForFrame) {
    const Bytes stream = knownStream();
    auto port = std::make_shared<MemorySource>();
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t piece = std::min<std::size_t>(stream.size() - at, 5 + (at * 13) % 70);
        port->push(Bytes(stream.begin() + static_cast<long>(at),
                         stream.begin() + static_cast<long>(at + piece)));
        at += piece;
    }
    std::string error;
    std::shared_ptr<record::RecordingWriter> writer = record::RecordingWriter::create(
        (dir / "known.vtrec").string(), record::RecordingWriter::Existing::Refuse, error);
    ASSERT_TRUE(writer) << error;
    const std::vector<Shown> live =
        acquire(std::make_shared<RecordingTap>(port, writer), [&] { return port->pending() == 0; });
    ASSERT_TRUE(writer->close());
    EXPECT_EQ(writer->status().bytesRecorded, stream.size());
    // Twelve frames less the one that lost bytes; the broken start gives none.
    ASSERT_EQ(live.size(), 11u);

    auto source = replay(dir / "known.vtrec", ReplaySource::AsFastAsRead);
    const std::vector<Shown> replayed = acquire(source, [&] { return source->finished(); });
    EXPECT_EQ(replayed, live);
    EXPECT_EQ(source->bytesReplayed(), stream.size());
    EXPECT_EQ(source->endingText(), "");
}

TEST_F(RecordAndReplay, ALostDeviceIsMarkedOnceAndTheReplayWaitsForASyncByteThereToo) {
    const Bytes a = sim::buildFrame({0x24, 6, 0, 0}, sim::FrameSamplesArray{});
    Bytes b = sim::buildFrame({0x24, 7, 0, 0}, sim::FrameSamplesArray{});
    const Bytes c = sim::buildFrame({0x24, 8, 0, 0}, sim::FrameSamplesArray{});
    // The port loses its device inside frame A and comes back inside frame B, whose tail would
    // finish A's first 100 bytes at position 137.
    auto first = std::make_shared<MemorySource>();
    first->push(Bytes(a.begin(), a.begin() + 100));
    first->loseDevice();
    auto second = std::make_shared<MemorySource>();
    second->push(Bytes(b.end() - 38, b.end()));
    second->push(c);
    std::int64_t nowMs = 0;
    auto port = std::make_shared<ReconnectingPort>(
        first, [second]() -> std::shared_ptr<ByteSource> { return second; },
        [&nowMs] { return nowMs; });
    std::string error;
    std::shared_ptr<record::RecordingWriter> writer = record::RecordingWriter::create(
        (dir / "lost.vtrec").string(), record::RecordingWriter::Existing::Refuse, error);
    ASSERT_TRUE(writer) << error;
    const std::vector<Shown> live = acquire(std::make_shared<RecordingTap>(port, writer), [&] {
        nowMs += 10; // a second passes in 100 cycles: the port is opened again
        return second->pending() == 0;
    });
    ASSERT_TRUE(writer->close());
    ASSERT_EQ(live.size(), 1u);
    EXPECT_EQ(live[0].timebase, "0.5ms -> 5ms/div"); // frame C

    // One mark, though the device stayed away for a hundred reads.
    auto reader = open(dir / "lost.vtrec");
    int marks = 0;
    Bytes stream;
    record::Chunk chunk;
    while (reader->next(chunk)) {
        marks += chunk.deviceLost ? 1 : 0;
        stream.insert(stream.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    EXPECT_EQ(marks, 1);
    // Without the mark the bytes alone would give the broken frame too.
    EXPECT_EQ(decodeDirectly(stream).size(), 2u);

    auto source = replay(dir / "lost.vtrec", ReplaySource::AsFastAsRead);
    EXPECT_EQ(acquire(source, [&] { return source->finished(); }), live);
}

TEST_F(RecordAndReplay, ARecordingCutAtAnyByteReplaysEveryFrameCompleteBeforeTheCut) {
    const Bytes stream = knownStream();
    std::vector<Bytes> pieces;
    Bytes file = record::encodeHeader(0);
    for (std::size_t at = 0, i = 0; at < stream.size(); ++i) {
        const std::size_t piece = std::min<std::size_t>(stream.size() - at, 10 + (i * 29) % 60);
        pieces.emplace_back(stream.begin() + static_cast<long>(at),
                            stream.begin() + static_cast<long>(at + piece));
        record::appendChunks(file, static_cast<std::uint32_t>(10 * i), pieces.back());
        at += piece;
    }
    const std::vector<Shown> all = decodeDirectly(stream);
    const fs::path path = dir / "cut.vtrec";
    for (std::size_t cut = record::HeaderSize; cut <= file.size(); ++cut) {
        writeFile(path, Bytes(file.begin(), file.begin() + static_cast<long>(cut)));
        // The device bytes that made it into the file before the cut.
        std::size_t offset = record::HeaderSize;
        std::size_t present = 0;
        for (const Bytes& p : pieces) {
            if (cut < offset + record::ChunkHeaderSize) {
                break;
            }
            present += std::min(p.size(), cut - offset - record::ChunkHeaderSize);
            offset += record::ChunkHeaderSize + p.size() + record::ChunkTrailerSize;
        }
        const std::vector<Shown> complete =
            decodeDirectly(Bytes(stream.begin(), stream.begin() + static_cast<long>(present)));

        auto source = replay(path, ReplaySource::AsFastAsRead);
        const std::vector<Shown> replayed = acquire(source, [&] { return source->finished(); });
        ASSERT_EQ(replayed, complete) << "cut at " << cut;
        ASSERT_EQ(std::vector<Shown>(all.begin(), all.begin() + static_cast<long>(complete.size())),
                  complete);
    }
}

TEST_F(RecordAndReplay, ARawDumpReplaysToTheFramesOfItsBytes) {
    const Bytes stream = knownStream();
    writeFile(dir / "dump.bin", stream);
    auto source = replay(dir / "dump.bin", ReplaySource::AsFastAsRead);
    EXPECT_EQ(acquire(source, [&] { return source->finished(); }), decodeDirectly(stream));
}

TEST_F(RecordAndReplay, AClosedReplayHandsOutNothingMore) {
    writeFile(dir / "dump.bin", knownStream());
    auto source = replay(dir / "dump.bin", ReplaySource::AsFastAsRead);
    std::array<std::uint8_t, 100> buffer{};
    EXPECT_EQ(source->readAvailable(buffer).count, 100u);
    source->close();
    EXPECT_EQ(source->readAvailable(buffer).count, 0u);
    EXPECT_FALSE(source->finished());
}

// ---- Pace ------------------------------------------------------------------------------------

// Five seconds of the line as the port delivers it: 21 or 22 bytes every 10 ms.
struct LineRecording {
    Bytes file = record::encodeHeader(0);
    std::vector<std::uint32_t> timesMs;
    std::vector<std::size_t> sizes;
    std::size_t total = 0;
    LineRecording() {
        for (std::uint32_t t = 10; t <= 5000; t += 10) {
            const std::size_t size = (t / 10) % 3 == 0 ? 22 : 21;
            record::appendChunks(file, t, Bytes(size, 0x01));
            timesMs.push_back(t);
            sizes.push_back(size);
            total += size;
        }
    }
    // Bytes recorded up to `ms` (inclusive).
    std::size_t dueBy(double ms) const {
        std::size_t due = 0;
        for (std::size_t i = 0; i < timesMs.size() && timesMs[i] <= ms; ++i) {
            due += sizes[i];
        }
        return due;
    }
};

// Reads the replay every `stepUs` of a clock of the test's until it is finished; returns the
// bytes each read took.
std::vector<std::size_t> readPaced(ReplaySource& source, std::int64_t& now, std::int64_t stepUs) {
    std::vector<std::size_t> reads;
    std::array<std::uint8_t, ReceiveBufferSize> buffer{};
    while (!source.finished() && reads.size() < 100000) {
        reads.push_back(source.readAvailable(buffer).count);
        now += stepUs;
    }
    return reads;
}

TEST_F(RecordAndReplay, SpeedScalesTheRecordedPaceOverTheWholeStream) {
    const LineRecording line;
    writeFile(dir / "line.vtrec", line.file);
    for (double speed : {1.0, 4.0, 0.5}) {
        std::int64_t now = 1000000; // any start: the first read sets the replay's zero
        ReplaySource source(open(dir / "line.vtrec"), speed, [&now] { return now; });
        const std::vector<std::size_t> reads = readPaced(source, now, 10000);
        // After every read exactly the bytes recorded by elapsed × speed are out.
        std::size_t out = 0;
        for (std::size_t i = 0; i < reads.size(); ++i) {
            out += reads[i];
            const double elapsedMs = 10.0 * static_cast<double>(i);
            ASSERT_EQ(out, line.dueBy(elapsedMs * speed)) << "speed " << speed << " read " << i;
        }
        ASSERT_EQ(out, line.total);
        // Measured over the stream: bytes per second of the test's clock.
        const double seconds = 0.01 * static_cast<double>(reads.size() - 1);
        const double rate = static_cast<double>(line.total) / seconds;
        EXPECT_NEAR(rate / (speed * static_cast<double>(line.total) / 5.0), 1.0, 0.01)
            << "speed " << speed;
    }
}

TEST_F(RecordAndReplay, AsFastAsReadTakesTheWholeBufferEveryReadAndNoMore) {
    const LineRecording line;
    writeFile(dir / "line.vtrec", line.file);
    std::int64_t now = 0;
    ReplaySource source(open(dir / "line.vtrec"), ReplaySource::AsFastAsRead,
                        [&now] { return now; });
    const std::vector<std::size_t> reads = readPaced(source, now, 0);
    ASSERT_GE(reads.size(), 2u);
    const std::size_t full = line.total / ReceiveBufferSize;
    for (std::size_t i = 0; i < full; ++i) {
        EXPECT_EQ(reads[i], ReceiveBufferSize) << i;
    }
    EXPECT_EQ(reads[full], line.total % ReceiveBufferSize);
}

} // namespace
} // namespace veltrace::link
