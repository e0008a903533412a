// The device stream as a file: the recording format, its writer and its reader.
//
// A recording keeps every byte read from the port with the time it arrived, so a session can be
// replayed at its own pace. The format (docs/recording-format.md has the full description):
//
//   header, 32 bytes, little-endian:
//     0   8  magic 89 56 54 52 45 43 0D 0A ("\x89VTREC\r\n": no device byte is 0x89, and a
//            transfer that mangles line ends or the eighth bit spoils it)
//     8   2  format version, 1
//     10  2  header size, 32 (a later version may add fields; readers skip what they do not know)
//     12  4  0 (reserved)
//     16  8  wall-clock time the recording began, microseconds since 1970-01-01 UTC (signed)
//     24  8  0 (reserved)
//   then chunks, one per read that returned bytes, in the order they arrived:
//     0   4  arrival time, milliseconds since the recording began (never decreasing)
//     4   2  n, the number of bytes, 1..4096; 0 marks the moment the device was lost (the port
//            went away and was opened again later), so a replay restarts its decoder there
//     6   2  the low 16 bits of the CRC-32 of bytes 0..5 (tells a chunk header from garbage)
//     8   n  the bytes as read
//     8+n 4  CRC-32 of the chunk header and the bytes
//
// The file is only ever appended to. A recording cut anywhere (a crash, a pulled plug, a full
// disk) still reads up to the cut, the bytes of a chunk cut short included; a chunk whose header
// or CRC does not match ends the reading there (the zero-filled or garbage tail a crash of the
// whole machine can leave) without touching what came before.
//
// A file without the magic is a raw dump of the line (what `cat /dev/ttyUSB0 > dump.bin` leaves):
// its bytes are replayed at the line's 2133 bytes per second, with the eighth bit cleared as the
// seven-bit line delivers them.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace veltrace::record {

inline constexpr std::array<std::uint8_t, 8> Magic = {0x89, 'V', 'T', 'R', 'E', 'C', '\r', '\n'};
inline constexpr std::uint16_t FormatVersion = 1;
inline constexpr std::size_t HeaderSize = 32;
inline constexpr std::size_t ChunkHeaderSize = 8;
inline constexpr std::size_t ChunkTrailerSize = 4;
inline constexpr std::size_t MaxChunkBytes = 4096;
// 19200 baud with 9 bit times per character (start, 7 data, stop).
inline constexpr double LineBytesPerSecond = 19200.0 / 9.0;

// CRC-32 (the polynomial of zlib and PNG), continued from `crc`.
std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc = 0);

// The encoded header and chunk, for the writer and for tests that build files by hand. Pieces
// longer than MaxChunkBytes become several chunks of the same time.
std::vector<std::uint8_t> encodeHeader(std::int64_t startMicros);
void appendChunks(std::vector<std::uint8_t>& out, std::uint32_t timeMs,
                  std::span<const std::uint8_t> bytes);
// A chunk of no bytes: the device was lost at that time.
void appendLossMark(std::vector<std::uint8_t>& out, std::uint32_t timeMs);

// Wall-clock microseconds since 1970, as the header stores them.
std::int64_t wallClockMicros();

// ---- Writing --------------------------------------------------------------------------------

struct WriterStatus {
    std::uint64_t bytesRecorded = 0; // device bytes handed to the file
    std::uint64_t bytesDropped = 0;  // device bytes lost: after a write error, or over the limit
    bool failed = false;             // a write failed; nothing more is written
    std::string error;               // why, when failed
};

// Appends timed chunks to a new recording. append() never waits for the disk: the bytes go to
// memory, and a thread of the writer's own writes them out and syncs the file about once a
// second, so a crash loses at most the last second. When a write fails (a full disk) the
// writer stops writing, keeps what the file holds, counts what it drops from then on and calls
// the error handler once; the caller goes on as if nothing happened.
class RecordingWriter {
  public:
    enum class Existing { Refuse, Replace };
    struct Options {
        std::chrono::milliseconds flushInterval{1000};
        // Bytes held in memory while the disk is slow; beyond it new bytes are dropped.
        std::size_t memoryLimit = 4u << 20;
    };

    // Creates `path` and writes its header, synced. Refuses an existing file unless `existing`
    // is Replace, in which case the new file is made under a temporary name and renamed over
    // the old one only once its header is safely written. Null (with `error` saying why, and no
    // file left behind) when the file cannot be made.
    static std::unique_ptr<RecordingWriter> create(const std::string& path, Existing existing,
                                                   std::string& error);
    static std::unique_ptr<RecordingWriter> create(const std::string& path, Existing existing,
                                                   std::string& error, Options options);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Any thread. The arrival time is taken now unless given.
    void append(std::span<const std::uint8_t> bytes);
    void append(std::span<const std::uint8_t> bytes, std::chrono::steady_clock::time_point arrival);
    // Marks that the device was lost now (see the loss mark above).
    void appendDeviceLost();
    // Called once, on the writer's thread, when a write fails.
    void setErrorHandler(std::function<void(const std::string&)> handler);
    // Writes out what is pending, syncs, closes the file. Waits at most `limit` for the disk;
    // true when everything reached the file. Appends after close are dropped. Idempotent.
    bool close(std::chrono::milliseconds limit = std::chrono::milliseconds(2000));
    WriterStatus status() const;
    const std::string& path() const { return path_; }

    struct Shared;

  private:
    RecordingWriter(std::string path, std::shared_ptr<Shared> shared);
    std::string path_;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

// ---- Reading --------------------------------------------------------------------------------

enum class FileKind { Recording, RawDump };

// One piece of the stream: the bytes and when the last of them arrived, in microseconds since
// the stream began; or, with no bytes, the moment the device was lost.
struct Chunk {
    std::int64_t timeMicros = 0;
    std::vector<std::uint8_t> bytes;
    bool deviceLost = false;
};

// How the reading of a file ended.
enum class Ending {
    Running,  // not at the end yet
    Complete, // the file ends after a whole chunk (or a raw dump's last byte)
    Cut,      // the file ends inside a chunk: the bytes present were read
    Damaged,  // a chunk header or CRC does not match: reading stopped before it
};

// Reads a recording or a raw dump chunk by chunk, never more than one chunk in memory.
class RecordingReader {
  public:
    // Null (with `error` saying why) when the file cannot be opened, is empty, or is a
    // recording whose header is cut short or of a version this program does not know.
    static std::unique_ptr<RecordingReader> open(const std::string& path, std::string& error);
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    FileKind kind() const { return kind_; }
    // Wall-clock microseconds since 1970 at which the stream began: the header's time for a
    // recording; for a raw dump, the file's last change less its length at the line's pace.
    std::int64_t startMicros() const { return startMicros_; }
    // The next chunk; false at the end of the file (see ending()).
    bool next(Chunk& chunk);
    Ending ending() const { return ending_; }
    // File offset of the chunk that was cut or damaged.
    std::uint64_t endingOffset() const { return endingOffset_; }

  private:
    RecordingReader() = default;
    bool nextRecorded(Chunk& chunk);
    bool nextRaw(Chunk& chunk);

    std::FILE* file_ = nullptr;
    FileKind kind_ = FileKind::RawDump;
    std::int64_t startMicros_ = 0;
    std::uint64_t offset_ = 0;      // file offset of the next unread byte
    std::uint64_t streamBytes_ = 0; // device bytes handed out so far (raw dumps time by these)
    std::uint32_t lastTimeMs_ = 0;
    Ending ending_ = Ending::Running;
    std::uint64_t endingOffset_ = 0;
};

// What a reader's ending means to a person, "" for Running and Complete.
std::string endingText(const RecordingReader& reader);

} // namespace veltrace::record
