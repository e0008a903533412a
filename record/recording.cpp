// The recording format's encoding, the writer with its flushing thread, and the reader.
#include "record/recording.h"

#include "record/file_io.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

namespace veltrace::record {

namespace {

using SteadyClock = std::chrono::steady_clock;

void putLittle(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint64_t getLittle(const std::uint8_t* in, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | in[i];
    }
    return value;
}

std::uint16_t headerCheck(const std::uint8_t* chunkHeader) {
    return static_cast<std::uint16_t>(crc32(std::span<const std::uint8_t>(chunkHeader, 6)));
}

} // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes, std::uint32_t crc) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[n] = c;
        }
        return t;
    }();
    crc ^= 0xFFFFFFFFu;
    for (std::uint8_t byte : bytes) {
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

std::vector<std::uint8_t> encodeHeader(std::int64_t startMicros) {
    std::vector<std::uint8_t> out(Magic.begin(), Magic.end());
    putLittle(out, FormatVersion, 2);
    putLittle(out, HeaderSize, 2);
    putLittle(out, 0, 4);
    putLittle(out, static_cast<std::uint64_t>(startMicros), 8);
    putLittle(out, 0, 8);
    return out;
}

void appendChunks(std::vector<std::uint8_t>& out, std::uint32_t timeMs,
                  std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::span<const std::uint8_t> piece =
            bytes.first(std::min(bytes.size(), MaxChunkBytes));
        const std::size_t start = out.size();
        putLittle(out, timeMs, 4);
        putLittle(out, piece.size(), 2);
        putLittle(out, headerCheck(out.data() + start), 2);
        out.insert(out.end(), piece.begin(), piece.end());
        const std::uint32_t crc =
            crc32(std::span<const std::uint8_t>(out.data() + start, out.size() - start));
        putLittle(out, crc, 4);
        bytes = bytes.subspan(piece.size());
    }
}

void appendLossMark(std::vector<std::uint8_t>& out, std::uint32_t timeMs) {
    const std::size_t start = out.size();
    putLittle(out, timeMs, 4);
    putLittle(out, 0, 2);
    putLittle(out, headerCheck(out.data() + start), 2);
    putLittle(out, crc32(std::span<const std::uint8_t>(out.data() + start, ChunkHeaderSize)), 4);
}

std::int64_t wallClockMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// ---- Writer ---------------------------------------------------------------------------------

struct RecordingWriter::Shared {
    std::mutex mutex;
    std::condition_variable wake;     // the flusher: time to write, or to close
    std::condition_variable finished; // close(): the flusher is done
    detail::FileHandle file = detail::NoFile;
    Options options;
    SteadyClock::time_point start;
    std::uint32_t lastMs = 0;
    std::vector<std::uint8_t> pending; // encoded chunks not yet written
    std::uint64_t pendingBytes = 0;    // device bytes in them
    WriterStatus status;
    bool closing = false;
    bool done = false;
    std::function<void(const std::string&)> onError;
};

namespace {

// The writer's own thread: about once a second it takes what is pending, writes it and syncs
// the file, outside the lock, so append() never waits for the disk.
void flushLoop(std::shared_ptr<RecordingWriter::Shared> shared) {
    std::unique_lock lock(shared->mutex);
    for (;;) {
        shared->wake.wait_for(lock, shared->options.flushInterval, [&] { return shared->closing; });
        std::vector<std::uint8_t> out;
        out.swap(shared->pending);
        const std::uint64_t deviceBytes = shared->pendingBytes;
        shared->pendingBytes = 0;
        const bool last = shared->closing;
        const bool failedBefore = shared->status.failed;
        const detail::FileHandle file = shared->file;
        lock.unlock();

        std::string error;
        bool written = true;
        if (!out.empty() && !failedBefore) {
            written = detail::writeAll(file, out, error) && detail::syncToDisk(file, error);
        }
        if (last) {
            detail::closeFile(file);
        }

        lock.lock();
        std::function<void(const std::string&)> report;
        if (!failedBefore && written) {
            shared->status.bytesRecorded += deviceBytes;
        } else {
            shared->status.bytesDropped += deviceBytes;
            if (!failedBefore) {
                shared->status.failed = true;
                shared->status.error = error;
                report = shared->onError;
            }
        }
        if (report) {
            lock.unlock();
            report(error);
            lock.lock();
        }
        if (last) {
            shared->done = true;
            shared->finished.notify_all();
            return;
        }
    }
}

// Creates `path` (which must not exist) with the process's usual permissions and writes the
// header, synced; NoFile with `error` and nothing left behind on failure.
detail::FileHandle createWithHeader(const std::string& path, std::int64_t startMicros,
                                    std::string& error, bool& existed) {
    std::string why;
    const detail::FileHandle file = detail::createNewFile(path, existed, why);
    if (file == detail::NoFile) {
        error = existed ? path + " already exists" : "cannot create " + path + ": " + why;
        return detail::NoFile;
    }
    const std::vector<std::uint8_t> header = encodeHeader(startMicros);
    if (!detail::writeAll(file, header, why) || !detail::syncToDisk(file, why)) {
        detail::closeFile(file);
        detail::removeFile(path);
        error = "cannot write " + path + ": " + why;
        return detail::NoFile;
    }
    return file;
}

} // namespace

RecordingWriter::RecordingWriter(std::string path, std::shared_ptr<Shared> shared)
    : path_(std::move(path)), shared_(std::move(shared)) {}

std::unique_ptr<RecordingWriter> RecordingWriter::create(const std::string& path, Existing existing,
                                                         std::string& error) {
    return create(path, existing, error, Options{});
}

std::unique_ptr<RecordingWriter> RecordingWriter::create(const std::string& path, Existing existing,
                                                         std::string& error, Options options) {
    const std::int64_t startMicros = wallClockMicros();
    const SteadyClock::time_point start = SteadyClock::now();
    detail::FileHandle file = detail::NoFile;
    bool existed = false;
    if (existing == Existing::Refuse) {
        file = createWithHeader(path, startMicros, error, existed);
    } else {
        // The old file stays until the new one has its header: a recording that cannot be
        // started never costs the one that was there.
        for (int attempt = 0; attempt < 100 && file == detail::NoFile; ++attempt) {
            const std::string temporary = detail::temporaryNameBeside(path, attempt);
            file = createWithHeader(temporary, startMicros, error, existed);
            if (file == detail::NoFile && !existed) {
                error = "cannot write in the folder of " + path + error.substr(error.rfind(':'));
                return nullptr;
            }
            std::string why;
            if (file != detail::NoFile && !detail::replaceFile(temporary, path, why)) {
                error = "cannot replace " + path + ": " + why;
                detail::closeFile(file);
                detail::removeFile(temporary);
                return nullptr;
            }
        }
    }
    if (file == detail::NoFile) {
        return nullptr;
    }
    detail::syncDirectoryOf(path);
    auto shared = std::make_shared<Shared>();
    shared->file = file;
    shared->options = options;
    shared->start = start;
    std::unique_ptr<RecordingWriter> writer(new RecordingWriter(path, shared));
    try {
        writer->thread_ = std::thread(flushLoop, shared);
    } catch (const std::system_error&) {
        detail::closeFile(file);
        error = "cannot start writing " + path + ": no thread";
        return nullptr;
    }
    return writer;
}

RecordingWriter::~RecordingWriter() {
    close();
}

void RecordingWriter::append(std::span<const std::uint8_t> bytes) {
    append(bytes, SteadyClock::now());
}

namespace {

// Milliseconds since the recording began: never backwards, and a recording longer than 49 days
// keeps its last time. The caller holds the writer's lock.
std::uint32_t chunkTime(RecordingWriter::Shared& s, std::chrono::steady_clock::time_point arrival) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(arrival - s.start).count();
    s.lastMs = static_cast<std::uint32_t>(
        std::clamp<std::int64_t>(elapsed, s.lastMs, std::numeric_limits<std::uint32_t>::max()));
    return s.lastMs;
}

} // namespace

void RecordingWriter::append(std::span<const std::uint8_t> bytes, SteadyClock::time_point arrival) {
    if (bytes.empty()) {
        return;
    }
    std::lock_guard lock(shared_->mutex);
    Shared& s = *shared_;
    const std::size_t encoded =
        bytes.size() + (bytes.size() / MaxChunkBytes + 1) * (ChunkHeaderSize + ChunkTrailerSize);
    if (s.closing || s.status.failed || s.pending.size() + encoded > s.options.memoryLimit) {
        s.status.bytesDropped += bytes.size();
        return;
    }
    appendChunks(s.pending, chunkTime(s, arrival), bytes);
    s.pendingBytes += bytes.size();
}

void RecordingWriter::appendDeviceLost() {
    std::lock_guard lock(shared_->mutex);
    Shared& s = *shared_;
    if (s.closing || s.status.failed ||
        s.pending.size() + ChunkHeaderSize + ChunkTrailerSize > s.options.memoryLimit) {
        return;
    }
    appendLossMark(s.pending, chunkTime(s, SteadyClock::now()));
}

void RecordingWriter::setErrorHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(shared_->mutex);
    shared_->onError = std::move(handler);
}

bool RecordingWriter::close(std::chrono::milliseconds limit) {
    bool done = false;
    {
        std::unique_lock lock(shared_->mutex);
        if (!shared_->closing) {
            shared_->closing = true;
            shared_->wake.notify_all();
        }
        done = shared_->finished.wait_for(lock, limit, [this] { return shared_->done; });
    }
    if (thread_.joinable()) {
        if (done) {
            thread_.join();
        } else {
            // A disk that does not answer: the thread keeps its own share of the state and
            // ends when the write returns; the program does not wait for it.
            thread_.detach();
        }
    }
    const WriterStatus s = status();
    return done && !s.failed && s.bytesDropped == 0;
}

WriterStatus RecordingWriter::status() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->status;
}

// ---- Reader ---------------------------------------------------------------------------------

std::unique_ptr<RecordingReader> RecordingReader::open(const std::string& path,
                                                       std::string& error) {
    detail::FileFacts facts;
    if (!detail::fileFacts(path, facts)) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!facts.regular) {
        error = path + " is not a file";
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<RecordingReader> reader(new RecordingReader());
    reader->file_ = file;
    std::array<std::uint8_t, HeaderSize> header{};
    const std::size_t got = std::fread(header.data(), 1, header.size(), file);
    if (got == 0) {
        error = path + " is empty";
        return nullptr;
    }
    const std::size_t compared = std::min(got, Magic.size());
    if (!std::equal(Magic.begin(), Magic.begin() + static_cast<long>(compared), header.begin())) {
        reader->kind_ = FileKind::RawDump;
        const double seconds = static_cast<double>(facts.size) / LineBytesPerSecond;
        reader->startMicros_ = facts.modifiedMicros - static_cast<std::int64_t>(seconds * 1e6);
        std::fseek(file, 0, SEEK_SET);
        return reader;
    }
    reader->kind_ = FileKind::Recording;
    if (got < HeaderSize) {
        error = path + " is a recording whose header is cut short: it holds nothing";
        return nullptr;
    }
    const auto version = static_cast<std::uint16_t>(getLittle(header.data() + 8, 2));
    const auto headerSize = static_cast<std::uint16_t>(getLittle(header.data() + 10, 2));
    if (version != FormatVersion) {
        error = path + " is a recording of format version " + std::to_string(version) +
                "; this program reads version " + std::to_string(FormatVersion);
        return nullptr;
    }
    if (headerSize < HeaderSize) {
        error = path + " is a recording with a damaged header";
        return nullptr;
    }
    // A later version's longer header must be there in full too.
    if (facts.size < headerSize || std::fseek(file, headerSize, SEEK_SET) != 0) {
        error = path + " is a recording whose header is cut short: it holds nothing";
        return nullptr;
    }
    reader->startMicros_ = static_cast<std::int64_t>(getLittle(header.data() + 16, 8));
    reader->offset_ = headerSize;
    return reader;
}

RecordingReader::~RecordingReader() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool RecordingReader::next(Chunk& chunk) {
    if (ending_ != Ending::Running) {
        return false;
    }
    return kind_ == FileKind::Recording ? nextRecorded(chunk) : nextRaw(chunk);
}

bool RecordingReader::nextRaw(Chunk& chunk) {
    constexpr std::size_t Piece = 32;
    chunk.deviceLost = false;
    chunk.bytes.resize(Piece);
    const std::size_t got = std::fread(chunk.bytes.data(), 1, Piece, file_);
    chunk.bytes.resize(got);
    if (got == 0) {
        ending_ = Ending::Complete;
        endingOffset_ = offset_;
        return false;
    }
    // A dump taken with the terminal at eight bits holds the stop bit in bit 7.
    for (std::uint8_t& byte : chunk.bytes) {
        byte &= 0x7F;
    }
    offset_ += got;
    streamBytes_ += got;
    chunk.timeMicros =
        static_cast<std::int64_t>(static_cast<double>(streamBytes_) * 1e6 / LineBytesPerSecond);
    return true;
}

bool RecordingReader::nextRecorded(Chunk& chunk) {
    const std::uint64_t chunkOffset = offset_;
    auto endAs = [&](Ending ending) {
        ending_ = ending;
        endingOffset_ = chunkOffset;
    };
    std::array<std::uint8_t, ChunkHeaderSize> header{};
    const std::size_t headerGot = std::fread(header.data(), 1, header.size(), file_);
    if (headerGot == 0) {
        endAs(Ending::Complete);
        return false;
    }
    if (headerGot < header.size()) {
        endAs(Ending::Cut);
        return false;
    }
    const auto timeMs = static_cast<std::uint32_t>(getLittle(header.data(), 4));
    const auto length = static_cast<std::size_t>(getLittle(header.data() + 4, 2));
    const auto check = static_cast<std::uint16_t>(getLittle(header.data() + 6, 2));
    if (length > MaxChunkBytes || check != headerCheck(header.data()) || timeMs < lastTimeMs_) {
        endAs(Ending::Damaged);
        return false;
    }
    chunk.deviceLost = length == 0;
    chunk.bytes.resize(length);
    const std::size_t got = std::fread(chunk.bytes.data(), 1, length, file_);
    chunk.timeMicros = static_cast<std::int64_t>(timeMs) * 1000;
    std::array<std::uint8_t, ChunkTrailerSize> trailer{};
    const std::size_t trailerGot =
        got == length ? std::fread(trailer.data(), 1, trailer.size(), file_) : 0;
    offset_ += header.size() + got + trailerGot;
    if (got < length || trailerGot < trailer.size()) {
        // Cut short: the bytes that made it to the file are the stream up to the cut.
        chunk.bytes.resize(got);
        endAs(Ending::Cut);
        return got > 0; // a loss mark cut short has nothing to keep
    }
    const std::uint32_t crc = crc32(chunk.bytes, crc32(header));
    if (crc != static_cast<std::uint32_t>(getLittle(trailer.data(), 4))) {
        endAs(Ending::Damaged);
        return false;
    }
    lastTimeMs_ = timeMs;
    return true;
}

std::string endingText(const RecordingReader& reader) {
    const std::string at = " at byte " + std::to_string(reader.endingOffset());
    switch (reader.ending()) {
    case Ending::Cut:
        return "the recording ends inside a chunk" + at +
               " (cut short); what came before it was read";
    case Ending::Damaged:
        return "the recording is damaged" + at + "; what came before it was read";
    case Ending::Running:
    case Ending::Complete:
        break;
    }
    return "";
}

} // namespace veltrace::record
