// The recording format: what the writer puts in a file comes back from the reader, piece for
// piece and time for time; a file cut anywhere or damaged reads up to the cut or the damage; raw
// dumps read at the line's pace; an existing file is never lost to a recording that cannot be
// made; a full disk stops the recording without harm to what it holds.
#include "record/recording.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace veltrace::record {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Every chunk of a file, and how the reading ended.
struct ReadBack {
    std::vector<Chunk> chunks;
    Bytes stream;
    Ending ending = Ending::Running;
    std::uint64_t endingOffset = 0;
};

ReadBack readAll(RecordingReader& reader) {
    ReadBack back;
    Chunk chunk;
    while (reader.next(chunk)) {
        back.chunks.push_back(chunk);
        back.stream.insert(back.stream.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    back.ending = reader.ending();
    back.endingOffset = reader.endingOffset();
    return back;
}

// A recording of `pieces`, the i-th arriving at times[i] milliseconds.
Bytes encodeRecording(std::int64_t start, const std::vector<Bytes>& pieces,
                      const std::vector<std::uint32_t>& times) {
    Bytes file = encodeHeader(start);
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        appendChunks(file, times[i], pieces[i]);
    }
    return file;
}

// Pieces of varied lengths holding a counting pattern, as a port's reads would.
std::vector<Bytes> somePieces(int count) {
    std::vector<Bytes> pieces;
    std::uint8_t next = 0;
    for (int i = 0; i < count; ++i) {
        Bytes piece(static_cast<std::size_t>(1 + (i * 37) % 90));
        for (std::uint8_t& b : piece) {
            b = next++ & 0x7F;
        }
        pieces.push_back(piece);
    }
    return pieces;
}

class RecordingFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltrace-record-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code error;
        fs::remove_all(dir, error);
    }
    std::unique_ptr<RecordingReader> open(const fs::path& path) {
        std::string error;
        auto reader = RecordingReader::open(path.string(), error);
        EXPECT_TRUE(reader) << error;
        return reader;
    }
    fs::path dir;
};

// ---- The format itself ------------------------------------------------------------------------

TEST(RecordingFormat, Crc32IsTheUsualOne) {
    const std::string text = "123456789";
    const Bytes bytes(text.begin(), text.end());
    EXPECT_EQ(crc32(bytes), 0xCBF43926u);
    // Continued in two parts it is the same as over the whole.
    EXPECT_EQ(crc32(std::span(bytes).subspan(4), crc32(std::span(bytes).first(4))), 0xCBF43926u);
}

TEST(RecordingFormat, HeaderAndChunkLayout) {
    const Bytes header = encodeHeader(0x0102030405060708);
    ASSERT_EQ(header.size(), HeaderSize);
    EXPECT_EQ(Bytes(header.begin(), header.begin() + 8), Bytes(Magic.begin(), Magic.end()));
    EXPECT_EQ(header[8], 1);   // version, little-endian
    EXPECT_EQ(header[10], 32); // header size
    EXPECT_EQ(header[16], 0x08);
    EXPECT_EQ(header[23], 0x01);

    Bytes chunk;
    appendChunks(chunk, 0x00010203, Bytes{0x7C, 0x24, 0x06});
    ASSERT_EQ(chunk.size(), ChunkHeaderSize + 3 + ChunkTrailerSize);
    EXPECT_EQ(chunk[0], 0x03); // time, little-endian
    EXPECT_EQ(chunk[2], 0x01);
    EXPECT_EQ(chunk[4], 3); // length
    const std::uint32_t crc = crc32(std::span(chunk).first(ChunkHeaderSize + 3));
    EXPECT_EQ(chunk[11], crc & 0xFF);
    EXPECT_EQ(chunk[14], crc >> 24);

    // A piece longer than a chunk holds becomes several of the same time.
    Bytes big;
    appendChunks(big, 7, Bytes(MaxChunkBytes + 10, 0x11));
    EXPECT_EQ(big.size(), 2 * (ChunkHeaderSize + ChunkTrailerSize) + MaxChunkBytes + 10);
}

// ---- Writer to reader -------------------------------------------------------------------------

TEST_F(RecordingFiles, WhatIsAppendedReadsBackPieceForPieceWithItsTimes) {
    const fs::path path = dir / "session.vtrec";
    std::string error;
    RecordingWriter::Options options;
    options.flushInterval = 20ms;
    auto writer =
        RecordingWriter::create(path.string(), RecordingWriter::Existing::Refuse, error, options);
    ASSERT_TRUE(writer) << error;
    const std::int64_t before = wallClockMicros();
    const auto start = std::chrono::steady_clock::now();
    const std::vector<Bytes> pieces = somePieces(40);
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        writer->append(pieces[i], start + std::chrono::milliseconds(15 * i));
        total += pieces[i].size();
    }
    EXPECT_TRUE(writer->close());
    EXPECT_EQ(writer->status().bytesRecorded, total);

    auto reader = open(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->kind(), FileKind::Recording);
    // The header's start is the moment of create(), just before `before` was taken.
    EXPECT_LE(std::abs(reader->startMicros() - before), 1000000);
    const ReadBack back = readAll(*reader);
    EXPECT_EQ(back.ending, Ending::Complete);
    ASSERT_EQ(back.chunks.size(), pieces.size());
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(back.chunks[i].bytes, pieces[i]) << "chunk " << i;
        // Milliseconds since create(), which came a moment before `start`.
        const std::int64_t expectedMs = static_cast<std::int64_t>(15 * i);
        EXPECT_GE(back.chunks[i].timeMicros / 1000, expectedMs) << "chunk " << i;
        EXPECT_LE(back.chunks[i].timeMicros / 1000, expectedMs + 50) << "chunk " << i;
    }
}

TEST_F(RecordingFiles, ALossMarkReadsBackInItsPlaceWithoutBytes) {
    Bytes file = encodeHeader(0);
    appendChunks(file, 10, Bytes{1, 2});
    appendLossMark(file, 20);
    appendChunks(file, 1500, Bytes{3});
    writeFile(dir / "mark.vtrec", file);
    auto reader = open(dir / "mark.vtrec");
    ASSERT_TRUE(reader);
    const ReadBack back = readAll(*reader);
    ASSERT_EQ(back.chunks.size(), 3u);
    EXPECT_FALSE(back.chunks[0].deviceLost);
    EXPECT_TRUE(back.chunks[1].deviceLost);
    EXPECT_TRUE(back.chunks[1].bytes.empty());
    EXPECT_EQ(back.chunks[1].timeMicros, 20000);
    EXPECT_FALSE(back.chunks[2].deviceLost);
    EXPECT_EQ(back.stream, (Bytes{1, 2, 3}));
    EXPECT_EQ(back.ending, Ending::Complete);
}

TEST_F(RecordingFiles, AppendsAfterCloseAndOverTheMemoryLimitAreCountedAsDropped) {
    RecordingWriter::Options options;
    options.flushInterval = 60s; // nothing leaves memory before close
    options.memoryLimit = 200;
    std::string error;
    auto writer = RecordingWriter::create((dir / "small.vtrec").string(),
                                          RecordingWriter::Existing::Refuse, error, options);
    ASSERT_TRUE(writer) << error;
    writer->append(Bytes(100, 1));
    writer->append(Bytes(100, 2)); // 224 encoded bytes would not fit beside the first
    EXPECT_FALSE(writer->close());
    writer->append(Bytes(5, 3));
    const WriterStatus status = writer->status();
    EXPECT_EQ(status.bytesRecorded, 100u);
    EXPECT_EQ(status.bytesDropped, 105u);
    EXPECT_FALSE(status.failed);
    auto reader = open(dir / "small.vtrec");
    ASSERT_TRUE(reader);
    EXPECT_EQ(readAll(*reader).stream, Bytes(100, 1));
}

// ---- Existing files and files that cannot be written -----------------------------------------

TEST_F(RecordingFiles, AnExistingFileIsRefusedAndKeptUnlessReplacing) {
    const fs::path path = dir / "kept.vtrec";
    writeFile(path, Bytes{1, 2, 3});
    std::string error;
    EXPECT_FALSE(RecordingWriter::create(path.string(), RecordingWriter::Existing::Refuse, error));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
    EXPECT_EQ(readFile(path), (Bytes{1, 2, 3}));

    auto writer = RecordingWriter::create(path.string(), RecordingWriter::Existing::Replace, error);
    ASSERT_TRUE(writer) << error;
    writer->append(Bytes{0x7C});
    EXPECT_TRUE(writer->close());
    auto reader = open(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(readAll(*reader).stream, Bytes{0x7C});
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(RecordingFiles, AFileThatCannotBeWrittenIsAnErrorAndLeavesNothingBehind) {
    std::string error;
    EXPECT_FALSE(RecordingWriter::create((dir / "no/such/folder.vtrec").string(),
                                         RecordingWriter::Existing::Refuse, error));
    EXPECT_NE(error.find("no/such/folder.vtrec"), std::string::npos) << error;

    // A file size limit below the header: the header cannot be written. The old file survives a
    // replacement that fails, and a new file is removed again.
    const fs::path old = dir / "old.vtrec";
    writeFile(old, Bytes{9, 9, 9});
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit tiny = saved;
    tiny.rlim_cur = 10;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool replaced = static_cast<bool>(
        RecordingWriter::create(old.string(), RecordingWriter::Existing::Replace, error));
    const std::string replaceError = error;
    const bool created = static_cast<bool>(RecordingWriter::create(
        (dir / "new.vtrec").string(), RecordingWriter::Existing::Refuse, error));
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_DFL);

    EXPECT_FALSE(replaced);
    EXPECT_FALSE(replaceError.empty());
    EXPECT_FALSE(created);
    EXPECT_EQ(readFile(old), (Bytes{9, 9, 9}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(RecordingFiles, AFullDiskStopsTheRecordingOnceAndKeepsWhatItHolds) {
    const fs::path path = dir / "full.vtrec";
    RecordingWriter::Options options;
    options.flushInterval = 10ms;
    std::string error;
    auto writer =
        RecordingWriter::create(path.string(), RecordingWriter::Existing::Refuse, error, options);
    ASSERT_TRUE(writer) << error;
    std::atomic<int> reports{0};
    writer->setErrorHandler([&](const std::string&) { ++reports; });

    std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limited = saved;
    limited.rlim_cur = 1000; // room for the header and a few chunks
    setrlimit(RLIMIT_FSIZE, &limited);
    Bytes sent;
    for (int i = 0; i < 30; ++i) {
        const Bytes piece(50, static_cast<std::uint8_t>(i));
        writer->append(piece);
        sent.insert(sent.end(), piece.begin(), piece.end());
        std::this_thread::sleep_for(5ms);
    }
    writer->close();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, SIG_DFL);

    const WriterStatus status = writer->status();
    EXPECT_TRUE(status.failed);
    EXPECT_FALSE(status.error.empty());
    EXPECT_EQ(reports, 1);
    EXPECT_EQ(status.bytesRecorded + status.bytesDropped, sent.size());
    // The file holds a beginning of what was sent, intact, and ends in a cut at worst.
    auto reader = open(path);
    ASSERT_TRUE(reader);
    const ReadBack back = readAll(*reader);
    EXPECT_NE(back.ending, Ending::Damaged);
    ASSERT_GT(back.stream.size(), 0u);
    EXPECT_GE(back.stream.size(), status.bytesRecorded);
    EXPECT_EQ(back.stream,
              Bytes(sent.begin(), sent.begin() + static_cast<long>(back.stream.size())));
}

// ---- Cut and damaged files -------------------------------------------------------------------

TEST_F(RecordingFiles, ACutAnywhereReadsEveryByteThatMadeItToTheFile) {
    const std::vector<Bytes> pieces = somePieces(25);
    std::vector<std::uint32_t> times;
    for (std::uint32_t i = 0; i < pieces.size(); ++i) {
        times.push_back(10 * i);
    }
    const Bytes file = encodeRecording(1234567, pieces, times);
    Bytes stream;
    for (const Bytes& p : pieces) {
        stream.insert(stream.end(), p.begin(), p.end());
    }
    const fs::path path = dir / "cut.vtrec";
    for (std::size_t cut = HeaderSize; cut <= file.size(); ++cut) {
        writeFile(path, Bytes(file.begin(), file.begin() + static_cast<long>(cut)));
        auto reader = open(path);
        ASSERT_TRUE(reader) << "cut at " << cut;
        const ReadBack back = readAll(*reader);
        // The bytes of every chunk whose header made it, up to the cut.
        std::size_t offset = HeaderSize;
        std::size_t present = 0;
        for (const Bytes& p : pieces) {
            if (cut < offset + ChunkHeaderSize) {
                break;
            }
            present += std::min(p.size(), cut - offset - ChunkHeaderSize);
            offset += ChunkHeaderSize + p.size() + ChunkTrailerSize;
        }
        ASSERT_EQ(back.stream, Bytes(stream.begin(), stream.begin() + static_cast<long>(present)))
            << "cut at " << cut;
        EXPECT_EQ(back.ending, cut == file.size() || cut == offset ? Ending::Complete : Ending::Cut)
            << "cut at " << cut;
    }
}

TEST_F(RecordingFiles, AHeaderCutShortOrOfAnotherVersionIsRefusedWithAReason) {
    const Bytes file = encodeRecording(0, {Bytes{1, 2}}, {0});
    std::string error;
    for (std::size_t cut : {std::size_t{3}, std::size_t{8}, HeaderSize - 1}) {
        writeFile(dir / "short.vtrec", Bytes(file.begin(), file.begin() + static_cast<long>(cut)));
        EXPECT_FALSE(RecordingReader::open((dir / "short.vtrec").string(), error)) << cut;
        EXPECT_NE(error.find("cut short"), std::string::npos) << error;
    }
    // A header that says it is longer than the file.
    Bytes longer = file;
    longer[10] = 200;
    writeFile(dir / "longer.vtrec", longer);
    EXPECT_FALSE(RecordingReader::open((dir / "longer.vtrec").string(), error));
    EXPECT_NE(error.find("cut short"), std::string::npos) << error;

    Bytes later = file;
    later[8] = 2;
    writeFile(dir / "later.vtrec", later);
    EXPECT_FALSE(RecordingReader::open((dir / "later.vtrec").string(), error));
    EXPECT_NE(error.find("version 2"), std::string::npos) << error;

    writeFile(dir / "empty.bin", Bytes{});
    EXPECT_FALSE(RecordingReader::open((dir / "empty.bin").string(), error));
    EXPECT_NE(error.find("empty"), std::string::npos) << error;
    EXPECT_FALSE(RecordingReader::open((dir / "missing.vtrec").string(), error));
    EXPECT_FALSE(RecordingReader::open(dir.string(), error));
}

TEST_F(RecordingFiles, DamageEndsTheReadingBeforeTheDamagedChunk) {
    const std::vector<Bytes> pieces = somePieces(6);
    const Bytes file = encodeRecording(0, pieces, {0, 10, 20, 30, 40, 50});
    std::size_t thirdChunk = HeaderSize;
    for (int i = 0; i < 2; ++i) {
        thirdChunk +=
            ChunkHeaderSize + pieces[static_cast<std::size_t>(i)].size() + ChunkTrailerSize;
    }
    const Bytes firstTwo = [&] {
        Bytes b = pieces[0];
        b.insert(b.end(), pieces[1].begin(), pieces[1].end());
        return b;
    }();

    struct Case {
        const char* what;
        std::size_t at;
    };
    for (const Case& c :
         {Case{"a changed data byte", thirdChunk + ChunkHeaderSize},
          Case{"a changed length", thirdChunk + 4}, Case{"a changed time", thirdChunk + 1},
          Case{"a changed checksum", thirdChunk + ChunkHeaderSize + pieces[2].size() + 1}}) {
        Bytes damaged = file;
        damaged[c.at] ^= 0x20;
        writeFile(dir / "damaged.vtrec", damaged);
        auto reader = open(dir / "damaged.vtrec");
        ASSERT_TRUE(reader);
        const ReadBack back = readAll(*reader);
        EXPECT_EQ(back.stream, firstTwo) << c.what;
        EXPECT_EQ(back.ending, Ending::Damaged) << c.what;
        EXPECT_EQ(back.endingOffset, thirdChunk) << c.what;
        EXPECT_NE(endingText(*reader).find(std::to_string(thirdChunk)), std::string::npos);
    }

    // The zero-filled tail a machine's crash can leave after the last chunk.
    Bytes zeros = file;
    zeros.resize(file.size() + 4096, 0);
    writeFile(dir / "zeros.vtrec", zeros);
    auto reader = open(dir / "zeros.vtrec");
    ASSERT_TRUE(reader);
    const ReadBack back = readAll(*reader);
    EXPECT_EQ(back.chunks.size(), pieces.size());
    EXPECT_EQ(back.ending, Ending::Damaged);
    EXPECT_EQ(back.endingOffset, file.size());
}

// ---- Raw dumps -------------------------------------------------------------------------------

TEST_F(RecordingFiles, ARawDumpReadsAtTheLinePaceWithTheEighthBitCleared) {
    Bytes dump;
    for (int i = 0; i < 1000; ++i) {
        dump.push_back(static_cast<std::uint8_t>((i * 7) | (i % 3 == 0 ? 0x80 : 0)));
    }
    const fs::path path = dir / "dump.bin";
    writeFile(path, dump);
    auto reader = open(path);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->kind(), FileKind::RawDump);
    const ReadBack back = readAll(*reader);
    EXPECT_EQ(back.ending, Ending::Complete);
    ASSERT_EQ(back.stream.size(), dump.size());
    for (std::size_t i = 0; i < dump.size(); ++i) {
        ASSERT_EQ(back.stream[i], dump[i] & 0x7F) << i;
    }
    // Each chunk arrives when its last byte would have, at 2133 bytes a second.
    std::size_t count = 0;
    for (const Chunk& chunk : back.chunks) {
        count += chunk.bytes.size();
        EXPECT_NEAR(static_cast<double>(chunk.timeMicros), count * 1e6 / LineBytesPerSecond, 1.0);
    }
    // It began its length at the line's pace before the file's last change.
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    const double changed =
        static_cast<double>(info.st_mtim.tv_sec) * 1e6 + info.st_mtim.tv_nsec / 1e3;
    EXPECT_NEAR(static_cast<double>(reader->startMicros()),
                changed - 1000 * 1e6 / LineBytesPerSecond, 2.0);
}

} // namespace
} // namespace veltrace::record
