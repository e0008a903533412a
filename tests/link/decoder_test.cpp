// The frame decoder fed with byte streams built by the simulator's frame builder.
#include "link/decoder.h"
#include "simframes/frames.h"
#include "state/scope_state.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The channel that is current, as the acquisition thread hands it to the decoder.
veltrace::state::ChannelData& current() {
    return veltrace::state::scope.channel[veltrace::state::scope.currentChannel & 3];
}

using veltrace::state::scope;
namespace sim = veltrace::sim;
using Bytes = std::vector<std::uint8_t>;

// Everything the decoder may write, for comparing whole states.
struct DecodedState {
    std::array<std::array<std::uint8_t, 4>, 129> samples{};
    std::array<std::string, 4> voltsText, timebaseText, triggerText;
    std::array<float, 4> voltsPerStep{}, timePerSample{};

    static DecodedState capture() {
        DecodedState s;
        for (int i = 0; i < 129; ++i) {
            for (int c = 0; c < 4; ++c) {
                s.samples[i][c] = scope.channel[c].samples[i];
            }
        }
        for (int c = 0; c < 4; ++c) {
            s.voltsText[c] = scope.channel[c].voltsText;
            s.timebaseText[c] = scope.channel[c].timebaseText;
            s.triggerText[c] = scope.channel[c].triggerText;
            s.voltsPerStep[c] = scope.channel[c].voltsPerStep;
            s.timePerSample[c] = scope.channel[c].timePerSample;
        }
        return s;
    }
    bool operator==(const DecodedState&) const = default;
};

// The decoder under test; every test starts with a fresh one. It writes into the scope state's
// channel that is current at each byte, as the acquisition thread has it do.
veltrace::link::FrameDecoder decoder;

void resetAll() {
    veltrace::state::resetScopeState();
    decoder = veltrace::link::FrameDecoder{};
}

// 1-based indices of the bytes at which the decoder reported a complete frame.
std::vector<std::size_t> feed(const Bytes& bytes, std::size_t countBefore = 0) {
    std::vector<std::size_t> reports;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (veltrace::link::decodeFrameByte(decoder, bytes[i],
                                            scope.channel[scope.currentChannel & 3]) == 1) {
            reports.push_back(countBefore + i + 1);
        }
    }
    return reports;
}

sim::FrameSamplesArray ramp(int start) {
    sim::FrameSamplesArray samples{};
    for (int i = 0; i < 129; ++i) {
        samples[i] = static_cast<std::uint8_t>((start + i) % 124);
    }
    return samples;
}

const sim::FrameSettings dc10vInt{0x24, 6, 0x40, 0x10};  // "DC 10V -> 1V/div", +INT RUN +0.1
const sim::FrameSettings ac100vExt{0x18, 9, 0x09, 0x00}; // "AC 100V -> 10V/div", -EXT SINGLE -0.5

void expectChannelSamples(int channel, const sim::FrameSamplesArray& expected) {
    for (int i = 0; i < 129; ++i) {
        EXPECT_EQ(scope.channel[channel].samples[i], expected[i]) << "sample " << i;
    }
}

class DecoderTest : public ::testing::Test {
  protected:
    void SetUp() override { resetAll(); }
    void TearDown() override { resetAll(); }
};

class DecoderFrameStream : public DecoderTest {};

TEST_F(DecoderFrameStream, OneFrameIsReportedAtItsLastByteAndStored) {
    const auto samples = ramp(7);
    EXPECT_EQ(feed(sim::buildFrame(dc10vInt, samples)), std::vector<std::size_t>{138});
    expectChannelSamples(0, samples);
    EXPECT_EQ(scope.channel[0].voltsText, "DC 10V -> 1V/div");
    EXPECT_EQ(scope.channel[0].timebaseText, "50\xB5s -> 0.5ms/div");
    EXPECT_EQ(scope.channel[0].triggerText, "+INT RUN +0.1");
    EXPECT_FLOAT_EQ(scope.channel[0].voltsPerStep, 0.15625f);
    EXPECT_FLOAT_EQ(scope.channel[0].timePerSample, 50.0f);
}

TEST_F(DecoderFrameStream, FrameSplitOverManyCallsEqualsOneRun) {
    Bytes stream = sim::buildFrame(dc10vInt, ramp(3));
    const Bytes second = sim::buildFrame(ac100vExt, ramp(90), 0x7F);
    stream.insert(stream.end(), second.begin(), second.end());

    const auto wholeReports = feed(stream);
    const DecodedState whole = DecodedState::capture();

    resetAll();
    std::vector<std::size_t> pieceReports;
    const std::size_t pieceSizes[] = {1, 3, 60, 2, 129, 17, 1, 200};
    std::size_t offset = 0;
    for (std::size_t k = 0; offset < stream.size(); ++k) {
        const std::size_t size = std::min(pieceSizes[k % 8], stream.size() - offset);
        const Bytes piece(stream.begin() + offset, stream.begin() + offset + size);
        for (std::size_t r : feed(piece, offset)) {
            pieceReports.push_back(r);
        }
        offset += size;
    }
    EXPECT_EQ(pieceReports, wholeReports);
    EXPECT_EQ(pieceReports, (std::vector<std::size_t>{138, 276}));
    EXPECT_TRUE(DecodedState::capture() == whole);
}

TEST_F(DecoderFrameStream, TwoFramesInOneBufferReportAt138And276) {
    Bytes stream = sim::buildFrame(dc10vInt, ramp(0));
    const auto secondSamples = ramp(50);
    const Bytes second = sim::buildFrame(ac100vExt, secondSamples, 0x7D);
    stream.insert(stream.end(), second.begin(), second.end());
    EXPECT_EQ(feed(stream), (std::vector<std::size_t>{138, 276}));
    expectChannelSamples(0, secondSamples);
    EXPECT_EQ(scope.channel[0].voltsText, "AC 100V -> 10V/div");
    EXPECT_EQ(scope.channel[0].triggerText, "-EXT SINGLE -0.5");
}

TEST_F(DecoderFrameStream, EarlySyncAfter136BytesGivesNoReportAndRestarts) {
    Bytes stream = sim::buildFrame(dc10vInt, ramp(0));
    stream.resize(137); // sync and 136 further bytes: the last ReadingFlags byte never comes
    const auto secondSamples = ramp(11);
    const Bytes second = sim::buildFrame(ac100vExt, secondSamples);
    stream.insert(stream.end(), second.begin(), second.end());
    EXPECT_EQ(feed(stream), std::vector<std::size_t>{137 + 138});
    EXPECT_EQ(scope.channel[0].voltsText, "AC 100V -> 10V/div");
    expectChannelSamples(0, secondSamples);
}

TEST_F(DecoderFrameStream, StreamStartingMidFrameDecodesFromWrongPositionsUntilSync) {
    // The tail of a frame whose first two bytes happen to be 0x05 and 0x24: the decoder takes
    // 0x05 as the sync position and 0x24 as a switches byte, and 0x07 as a timebase code.
    sim::FrameSamplesArray first = ramp(0);
    first[40] = 0x05;
    first[41] = 0x24;
    first[42] = 0x07;
    const Bytes firstFrame = sim::buildFrame(ac100vExt, first);
    Bytes stream(firstFrame.begin() + 45, firstFrame.end()); // starts at sample 40
    const std::size_t tailLength = stream.size();

    EXPECT_TRUE(feed(stream).empty()); // 93 bytes never reach position 137
    EXPECT_EQ(scope.channel[0].voltsText, "DC 10V -> 1V/div");
    EXPECT_EQ(scope.channel[0].timebaseText, "0.1ms -> 1ms/div");

    const auto secondSamples = ramp(77);
    EXPECT_EQ(feed(sim::buildFrame(ac100vExt, secondSamples), tailLength),
              std::vector<std::size_t>{tailLength + 138});
    EXPECT_EQ(scope.channel[0].voltsText, "AC 100V -> 10V/div");
    EXPECT_EQ(scope.channel[0].timebaseText, "1ms -> 10ms/div");
    expectChannelSamples(0, secondSamples);
}

TEST_F(DecoderFrameStream, SyncValueAtSamplePositionRestartsWithSwitchesByteNext) {
    for (std::uint8_t sync = 0x7C; sync <= 0x7F; ++sync) {
        resetAll();
        Bytes stream = sim::buildFrame(ac100vExt, ramp(0));
        stream.resize(5 + 40); // into the samples
        stream.push_back(sync);
        stream.push_back(0x24);
        EXPECT_TRUE(feed(stream).empty());
        EXPECT_EQ(scope.channel[0].voltsText, "DC 10V -> 1V/div") << "sync " << int(sync);
        EXPECT_EQ(decoder.framePosition, 2) << "sync " << int(sync);
        // The sync byte was not stored as sample 40.
        EXPECT_EQ(scope.channel[0].samples[40], 0) << "sync " << int(sync);
    }
}

TEST_F(DecoderFrameStream, After118IgnoredBytesThe119thStandsAtSyncPosition) {
    const auto samples = ramp(5);
    feed(sim::buildFrame(ac100vExt, samples));
    const DecodedState afterFrame = DecodedState::capture();

    // 118 bytes without a sync pattern, each of which would change something if decoded.
    const Bytes ignored(118, 0x24);
    EXPECT_TRUE(feed(ignored).empty());
    EXPECT_TRUE(DecodedState::capture() == afterFrame);
    EXPECT_EQ(decoder.framePosition, 0);

    // A sync-less frame now: its first byte stands at position 0, and it is reported.
    sim::FrameSettings settings = dc10vInt;
    const Bytes frame = sim::buildFrame(settings, ramp(30), 0x00);
    EXPECT_EQ(feed(frame), std::vector<std::size_t>{138});
    EXPECT_EQ(scope.channel[0].voltsText, "DC 10V -> 1V/div");
    expectChannelSamples(0, ramp(30));
}

TEST_F(DecoderFrameStream, ExtremeSampleValuesAreStoredAsReceived) {
    sim::FrameSamplesArray samples{};
    for (int i = 0; i < 129; ++i) {
        samples[i] = (i % 3 == 0) ? 0 : (i % 3 == 1 ? 123 : 61);
    }
    // Make sure a stale value could not pass for a stored 0.
    scope.channel[0].samples.fill(99);
    feed(sim::buildFrame(dc10vInt, samples));
    expectChannelSamples(0, samples);
}

TEST_F(DecoderFrameStream, ReadingBytesChangeNothing) {
    const Bytes frame = sim::buildFrame(dc10vInt, ramp(9), 0x7C, {9, 8, 7, 0x13});
    const Bytes head(frame.begin(), frame.begin() + 134);
    EXPECT_TRUE(feed(head).empty());
    const DecodedState beforeReading = DecodedState::capture();
    const Bytes reading(frame.begin() + 134, frame.end());
    EXPECT_EQ(feed(reading), std::vector<std::size_t>{4});
    EXPECT_TRUE(DecodedState::capture() == beforeReading);

    // Bytes after the frame's end are ignored too, whatever they hold.
    const Bytes after = {0x00, 0x24, 0x06, 0x40, 0x10, 0x55};
    EXPECT_TRUE(feed(after).empty());
    EXPECT_TRUE(DecodedState::capture() == beforeReading);
}

class DecoderChannelSelection : public DecoderTest {};

TEST_F(DecoderChannelSelection, ChannelIsTakenAtEveryStoredByte) {
    const auto samples = ramp(20);
    const Bytes frame = sim::buildFrame(dc10vInt, samples);
    scope.currentChannel = 1;
    feed(Bytes(frame.begin(), frame.begin() + 5 + 61)); // settings and samples 0..60
    scope.currentChannel = 3;
    EXPECT_EQ(feed(Bytes(frame.begin() + 66, frame.end())), std::vector<std::size_t>{138 - 66});

    for (int i = 0; i < 129; ++i) {
        const bool early = i <= 60;
        EXPECT_EQ(scope.channel[1].samples[i], early ? samples[i] : 0) << "sample " << i;
        EXPECT_EQ(scope.channel[3].samples[i], early ? 0 : samples[i]) << "sample " << i;
        EXPECT_EQ(scope.channel[0].samples[i], 0);
        EXPECT_EQ(scope.channel[2].samples[i], 0);
    }
    // The settings arrived while channel 1 was selected.
    EXPECT_EQ(scope.channel[1].voltsText, "DC 10V -> 1V/div");
    EXPECT_EQ(scope.channel[1].triggerText, "+INT RUN +0.1");
    EXPECT_TRUE(scope.channel[3].voltsText.empty());
    EXPECT_TRUE(scope.channel[3].triggerText.empty());
}

// A switch between the trigger byte and the level byte, frame after frame, must not make the new
// channel's trigger text grow: the level belongs to the text set one byte earlier.
TEST_F(DecoderChannelSelection, SwitchBetweenTriggerAndLevelNeverGrowsATriggerText) {
    scope.currentChannel = 1;
    feed(sim::buildFrame(dc10vInt, ramp(3)));
    ASSERT_EQ(scope.channel[1].triggerText, "+INT RUN +0.1");
    for (int k = 0; k < 50; ++k) {
        const Bytes frame = sim::buildFrame(dc10vInt, ramp(k));
        scope.currentChannel = 0;
        feed(Bytes(frame.begin(), frame.begin() + 4)); // up to the trigger byte
        scope.currentChannel = 1;
        feed(Bytes(frame.begin() + 4, frame.end()));
    }
    EXPECT_EQ(scope.channel[1].triggerText, "+INT RUN +0.1");
    EXPECT_EQ(scope.channel[0].triggerText, "+INT RUN");
}

TEST_F(DecoderChannelSelection, FramesForOneChannelLeaveTheOthersUntouched) {
    scope.currentChannel = 2;
    feed(sim::buildFrame(dc10vInt, ramp(1)));
    scope.currentChannel = 0;
    const auto samples = ramp(60);
    feed(sim::buildFrame(ac100vExt, samples));
    expectChannelSamples(2, ramp(1));
    expectChannelSamples(0, samples);
    EXPECT_EQ(scope.channel[2].voltsText, "DC 10V -> 1V/div");
    EXPECT_EQ(scope.channel[0].voltsText, "AC 100V -> 10V/div");
    EXPECT_TRUE(scope.channel[1].voltsText.empty());
    EXPECT_FLOAT_EQ(scope.channel[3].timePerSample, 0.0f);
}

// The frame builder must produce what the decoder understands; otherwise the simulator and the
// end-to-end tests would test nothing.
TEST(FrameBuilder, ReadableChoicesDecodeToTheirTexts) {
    resetAll();
    using sim::Coupling, sim::Range, sim::Source, sim::Level;
    veltrace::link::decodeSwitchesByte(sim::switchesByte(Coupling::Ac, Range::V100), current());
    EXPECT_EQ(scope.channel[0].voltsText, "AC 100V -> 10V/div");
    veltrace::link::decodeSwitchesByte(sim::switchesByte(Coupling::Gnd, Range::V1), current());
    EXPECT_EQ(scope.channel[0].voltsText, "GND 1V -> 0.1V/div");
    veltrace::link::decodeSwitchesByte(sim::switchesByte(Coupling::Dc, Range::V10), current());
    EXPECT_EQ(scope.channel[0].voltsText, "DC 10V -> 1V/div");

    const struct {
        Source source;
        bool single;
        Level level;
        const char* text;
    } cases[] = {
        {Source::IntPlus, false, Level::P01, "+INT RUN +0.1"},
        {Source::IntMinus, true, Level::M01, "-INT SINGLE -0.1"},
        {Source::ExtPlus, false, Level::P05, "+EXT RUN +0.5"},
        {Source::ExtMinus, true, Level::M05, "-EXT SINGLE -0.5"},
        {Source::IntPlus, false, Level::P03, "+INT RUN +0.3"},
        {Source::IntPlus, false, Level::M03, "+INT RUN -0.3"},
        {Source::Auto, true, Level::P01, "AUTO"},
    };
    for (const auto& c : cases) {
        veltrace::link::decodeTriggerByte(sim::triggerByte(c.source, c.single), current());
        veltrace::link::decodeLevelByte(sim::levelByte(c.level), current());
        EXPECT_EQ(scope.channel[0].triggerText, c.text);
    }
    resetAll();
}

TEST(FrameBuilder, FramesNeverCarryASyncPatternAfterTheSyncByte) {
    sim::FrameSamplesArray samples{};
    samples.fill(255);
    samples[0] = 0x7C;
    const Bytes frame = sim::buildFrame(dc10vInt, samples, 0x7E, {255, 12, 9, 0xFF});
    ASSERT_EQ(frame.size(), 138u);
    EXPECT_EQ(frame[0], 0x7E);
    for (std::size_t i = 1; i < frame.size(); ++i) {
        EXPECT_NE(frame[i] & 0x7C, 0x7C) << "byte " << i;
    }
    EXPECT_EQ(frame[5], 123);
}

TEST(FrameBuilder, WaveformsStayOnScreenAndFollowTheirShape) {
    std::uint32_t noise = 1;
    const auto square = sim::sampleWaveform({sim::Waveform::Square, 1000.0, 200, 60},
                                            sim::timePerSampleUs(5), 0.0, noise);
    // 1 kHz at 10 µs per sample: 50 samples high, then 50 low, clamped to the screen.
    EXPECT_EQ(square[0], 123);
    EXPECT_EQ(square[49], 123);
    EXPECT_EQ(square[50], 0);
    EXPECT_EQ(square[99], 0);
    EXPECT_EQ(square[100], 123);

    const auto sine = sim::sampleWaveform({sim::Waveform::Sine, 1000.0, 40, 62}, 10.0, 0.0, noise);
    EXPECT_EQ(sine[0], 62);
    EXPECT_EQ(sine[25], 102); // a quarter period
    EXPECT_EQ(sine[75], 22);

    const auto first = sim::sampleWaveform({sim::Waveform::Noise, 0, 30, 60}, 1.0, 0.0, noise);
    const auto second = sim::sampleWaveform({sim::Waveform::Noise, 0, 30, 60}, 1.0, 0.0, noise);
    EXPECT_NE(first, second); // the sequence continues from frame to frame
    for (int i = 0; i < 129; ++i) {
        EXPECT_GE(first[i], 30);
        EXPECT_LE(first[i], 90);
    }
}

TEST(FrameBuilder, CorruptionIsSeededAndOnlyDropsOrFlipsLineBits) {
    const Bytes frame = sim::buildFrame(dc10vInt, ramp(0));
    std::uint32_t stateA = 42, stateB = 42;
    const Bytes a = sim::corruptBytes(frame, 0.1, 0.1, stateA);
    const Bytes b = sim::corruptBytes(frame, 0.1, 0.1, stateB);
    EXPECT_EQ(a, b);
    EXPECT_LT(a.size(), frame.size());
    EXPECT_NE(a, Bytes(frame.begin(), frame.begin() + a.size()));
    for (std::uint8_t byte : a) {
        EXPECT_LT(byte, 128);
    }
    std::uint32_t stateC = 7;
    EXPECT_EQ(sim::corruptBytes(frame, 0.0, 0.0, stateC), frame);
}

} // namespace
