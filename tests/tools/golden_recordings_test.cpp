// Golden recordings: the files in tests/data (made by tools/make_recordings.cpp from the simulated
// scope's frame builder) replayed through the acquisition cycle as the window reads them, each
// drawn frame captured as the window's CAPTURE saves it, and logged as veltrace-log does. The
// checksums were recorded once: a change to decoding, drawing, capture files or the log shows
// here at once.
#include "app/controls.h"
#include "display/capture.h"
#include "link/acquisition.h"
#include "link/recording_sources.h"
#include "log/frame_logger.h"
#include "record/recording.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <sys/time.h>

namespace veltrace::logtool {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::uint64_t fnv1a(const std::uint8_t* data, std::size_t size,
                    std::uint64_t hash = 0xcbf29ce484222325ull) {
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 0x100000001b3ull;
    }
    return hash;
}

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Golden {
    const char* file;
    std::uint64_t framesDrawn;  // frames the window draws
    std::uint64_t capturesHash; // all their capture files, in order
    std::uint64_t rows;         // rows the log writes
    std::uint64_t rejected;     // frames the log leaves out
    std::uint64_t csvHash;      // the log's rows (TZ=UTC)
};

void PrintTo(const Golden& golden, std::ostream* out) {
    *out << golden.file;
}

class GoldenRecordings : public ::testing::TestWithParam<Golden> {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        hadTz_ = tz != nullptr;
        savedTz_ = hadTz_ ? tz : "";
        setenv("TZ", "UTC", 1);
        tzset();
        state::resetScopeState();
        ASSERT_NE(toolkit::toolkitInit(), 0);
        ASSERT_NE(toolkit::fontLoad(app::FontCapture, display::CaptureFontFace,
                                    display::CaptureFontPoints),
                  0);
        char pattern[] = "/tmp/veltrace-golden-rec-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(dir, error);
        toolkit::toolkitEnd();
        state::resetScopeState();
        if (hadTz_) {
            setenv("TZ", savedTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    // A raw dump has no header: its times count back from the file's modification time, which a
    // checkout sets to the moment of checkout. The copy read here carries a fixed one.
    std::unique_ptr<record::RecordingReader> open(const std::string& name) {
        const fs::path copy = dir / name;
        std::error_code error;
        if (!fs::exists(copy)) {
            fs::copy_file(fs::path(VELTRACE_TEST_DATA) / name, copy, error);
            EXPECT_FALSE(error) << error.message();
            struct timeval fixed[2] = {{1767225600, 0}, {1767225600, 0}}; // 2026-01-01 00:00 UTC
            EXPECT_EQ(utimes(copy.c_str(), fixed), 0);
        }
        std::string why;
        auto reader = record::RecordingReader::open(copy.string(), why);
        EXPECT_TRUE(reader) << why;
        return reader;
    }
    fs::path dir;
    bool hadTz_ = false;
    std::string savedTz_;
};

TEST_P(GoldenRecordings, ReplayedCapturesAndLogMatchTheirChecksums) {
    const Golden& golden = GetParam();
    const toolkit::Handle font = toolkit::fontHandle(app::FontCapture);

    // As the window: the acquisition cycle on a replay, a capture of channel 1 at every frame.
    auto source =
        std::make_shared<link::ReplaySource>(open(golden.file), link::ReplaySource::AsFastAsRead);
    std::uint64_t drawn = 0;
    std::uint64_t capturesHash = 0xcbf29ce484222325ull;
    link::AcquisitionCycle cycle(link::AcquisitionJob{
        source, [&] {
            ++drawn;
            const fs::path file = dir / captureName(drawn);
            ASSERT_TRUE(saveFrameCapture(state::scope.channel[0], font, file.string()));
            const Bytes png = readFile(file);
            capturesHash = fnv1a(png.data(), png.size(), capturesHash);
            fs::remove(file);
        }});
    while (!source->finished()) {
        ASSERT_TRUE(cycle.run());
    }

    // As veltrace-log: rows with the recorded times.
    auto reader = open(golden.file);
    FrameLogger logger({});
    std::string csv;
    record::Chunk chunk;
    while (reader->next(chunk)) {
        if (chunk.deviceLost) {
            logger.deviceLost();
        }
        logger.feed(chunk.bytes, reader->startMicros() + chunk.timeMicros, csv);
    }
    const std::uint64_t csvHash =
        fnv1a(reinterpret_cast<const std::uint8_t*>(csv.data()), csv.size());

    EXPECT_EQ(drawn, golden.framesDrawn) << golden.file;
    EXPECT_EQ(capturesHash, golden.capturesHash)
        << golden.file << ": 0x" << std::hex << capturesHash;
    EXPECT_EQ(logger.rows(), golden.rows) << golden.file;
    EXPECT_EQ(logger.rejected(), golden.rejected) << golden.file;
    EXPECT_EQ(csvHash, golden.csvHash) << golden.file << ": 0x" << std::hex << csvHash;
}

INSTANTIATE_TEST_SUITE_P(
    Files, GoldenRecordings,
    // clean: every frame drawn and logged. corrupted: the line lost or changed bytes of 8 frames
    // (never reported) and broke 1 more (drawn, not logged). settings: the 6 frames of codes no
    // table names are drawn as the window shows them and left out of the log. dump: a raw dump
    // taken at eight bits, read at seven.
    ::testing::Values(
        Golden{"clean.vtrec", 24, 0x28e08e78e6a276f6ull, 24, 0, 0xf97b7a811cee80d5ull},
        Golden{"corrupted.vtrec", 32, 0x86b004a37dcc950aull, 31, 1, 0xd030252882012b67ull},
        Golden{"settings.vtrec", 41, 0x63d5f809023825e1ull, 35, 6, 0x34edd3934a56b6e2ull},
        Golden{"dump.bin", 10, 0xda1bc0fdb4063531ull, 10, 0, 0x35b9e5f97e703ecbull}),
    [](const ::testing::TestParamInfo<Golden>& info) {
        std::string name = info.param.file;
        return name.substr(0, name.find('.'));
    });

} // namespace
} // namespace veltrace::logtool
