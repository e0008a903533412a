// Golden pictures: a handful of fixed scenes whose screen images and capture files are compared
// with checksums recorded once, so that any change to what is drawn or saved shows at once, pixel
// for pixel and byte for byte.
#include "app/app.h"

#include "app/controls.h"
#include "scratch_dir.h"
#include "simframes/frames.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace veltrace;
namespace fs = std::filesystem;

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (std::uint8_t b : bytes) {
        hash ^= b;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

std::uint64_t imageChecksum(int number) {
    const auto image = toolkit::imageGet(number);
    return image ? fnv1a(image->rgb) : 0;
}

void loadWave(int c, sim::Waveform waveform, double frequencyHz, int amplitude, int offset,
              double timePerSampleUs) {
    std::uint32_t noise = 0x1234u + static_cast<std::uint32_t>(c);
    const sim::FrameSamplesArray samples = sim::sampleWaveform(
        sim::WaveShape{waveform, frequencyHz, amplitude, offset}, timePerSampleUs, 0.0, noise);
    for (int i = 0; i < state::SampleSlots; ++i) {
        state::scope.channel[c].samples[static_cast<std::size_t>(i)] =
            samples[static_cast<std::size_t>(i)];
    }
}

class GoldenPictures : public testing::Test {
  protected:
    void SetUp() override {
        state::resetScopeState();
        ASSERT_NE(toolkit::toolkitInit(), 0);
        ASSERT_NE(toolkit::fontLoad(app::FontCapture, "Arial", 8), 0);
        loadWave(0, sim::Waveform::Sine, 1000.0, 40, 32, 50.0);
        loadWave(1, sim::Waveform::Square, 700.0, 25, 30, 50.0);
        loadWave(2, sim::Waveform::Triangle, 300.0, 30, 34, 50.0);
        loadWave(3, sim::Waveform::Noise, 0.0, 20, 32, 50.0);
        const char* const volts[4] = {"DC 10V -> 1V/div", "AC 1V -> 0.1V/div",
                                      "GND 100V -> 10V/div", "DC 1V -> 0.1V/div"};
        for (int c = 0; c < state::ChannelCount; ++c) {
            state::scope.channel[c].timebaseText = "50\xB5s -> 0.5ms/div";
            state::scope.channel[c].voltsText = volts[c];
            state::scope.channel[c].triggerText = "+INT RUN +0.1";
            state::scope.channel[c].timePerSample = 50.0f;
            state::scope.channel[c].voltsPerStep = 0.15625f;
        }
        previousDir_ = fs::current_path();
        workDir_ = testing_support::makeScratchDirectory("veltrace-golden-");
        ASSERT_FALSE(workDir_.empty());
        fs::current_path(workDir_);
    }

    void TearDown() override {
        fs::current_path(previousDir_);
        std::error_code error;
        fs::remove_all(workDir_, error);
        toolkit::toolkitEnd();
    }

    // The bytes of the one capture file in the working folder, which is then removed.
    std::uint64_t takeCaptureChecksum() {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(workDir_)) {
            files.push_back(entry.path());
        }
        EXPECT_EQ(files.size(), 1u);
        if (files.size() != 1) {
            return 0;
        }
        std::vector<std::uint8_t> bytes;
        {
            std::ifstream in(files[0], std::ios::binary);
            bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        } // closed first: Windows does not remove an open file
        fs::remove(files[0]);
        return fnv1a(bytes);
    }

    void setCursors(int c, int mode, int o, int u, int l, int r) {
        state::scope.cursors[c].cursorMode = static_cast<state::CursorMode>(mode);
        state::scope.cursors[c].posHLineO = static_cast<std::int16_t>(o);
        state::scope.cursors[c].posHLineU = static_cast<std::int16_t>(u);
        state::scope.cursors[c].posVLineL = static_cast<std::int16_t>(l);
        state::scope.cursors[c].posVLineR = static_cast<std::int16_t>(r);
    }

    fs::path previousDir_;
    fs::path workDir_;
};

TEST_F(GoldenPictures, OneChannelScreenInEveryCursorMode) {
    const std::uint64_t expected[4] = {
        0x754f46a15aa25e13ull,
        0x32819ac1f92b58bdull,
        0x5bf89bb90edc7fb3ull,
        0x7ee260e5e16473edull,
    };
    for (int mode = 0; mode < 4; ++mode) {
        setCursors(0, mode, 37, 420, 55, 300 + 70 * mode);
        app::renderScreen();
        EXPECT_EQ(imageChecksum(app::BitmapScreen), expected[mode])
            << "mode " << mode << ": 0x" << std::hex << imageChecksum(app::BitmapScreen);
    }
}

TEST_F(GoldenPictures, CursorsOutsideThePictureAreClippedAway) {
    setCursors(0, 3, 0, 600, 2, 510);
    app::renderScreen();
    EXPECT_EQ(imageChecksum(app::BitmapScreen), 0x6afb790860f6c068ull)
        << std::hex << imageChecksum(app::BitmapScreen);
}

TEST_F(GoldenPictures, FourChannelStrips) {
    const std::uint64_t expected[4] = {
        0xf6046cee4c700903ull,
        0x409ae0a809368dd9ull,
        0x393abc81345c4801ull,
        0x41e57ead9d1af651ull,
    };
    state::scope.fourChannelView = 1;
    for (int c = 0; c < state::ChannelCount; ++c) {
        setCursors(c, c, 9 + c, 100 + 5 * c, 40 * c, 450 - 30 * c);
        state::scope.currentChannel = static_cast<std::uint8_t>(c);
        app::renderStrip(state::scope.currentChannel);
        EXPECT_EQ(imageChecksum(app::BitmapChannel1 + c), expected[c])
            << "channel " << c << ": 0x" << std::hex << imageChecksum(app::BitmapChannel1 + c);
    }
}

TEST_F(GoldenPictures, CaptureFilesOfBothViews) {
    // The overlay shows the readouts of the update before the capture.
    setCursors(0, 3, 37, 420, 55, 300);
    app::renderScreen();
    app::captureCurrentView();
    EXPECT_EQ(takeCaptureChecksum(), 0xe2af057ce0405f13ull) << "screen";

    state::scope.fourChannelView = 1;
    state::scope.currentChannel = 2;
    setCursors(2, 1, 20, 90, 10, 502);
    app::renderStrip(state::scope.currentChannel);
    app::captureCurrentView();
    EXPECT_EQ(takeCaptureChecksum(), 0xade2556de300b8edull) << "strip";

    setCursors(2, 2, 20, 90, 10, 502);
    app::renderStrip(state::scope.currentChannel);
    app::captureCurrentView();
    EXPECT_EQ(takeCaptureChecksum(), 0x78acb3565b375cccull) << "strip, time readout";
}

} // namespace
