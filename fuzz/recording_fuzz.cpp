// The recording reader on arbitrary files. A file is refused with a reason, or read to an ending
// that says how it ended; what was read, encoded again, is exactly the file up to that ending
// (so nothing is skipped, invented or read past a damaged chunk): the whole file when it ended
// complete, the file up to the damaged chunk, or up to the chunk that was cut, whose bytes are
// the ones the file holds. A raw dump reads back as the file's bytes at seven bits, in order,
// with times that never go back.
#include "record/recording.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace veltrace::record;
using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "recording_fuzz: %s\n", what);
    std::abort();
}

const std::string& scratchFile() {
    static const std::string path = [] {
        char pattern[] = "/tmp/veltrace-recording-fuzz-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            fail("no scratch folder");
        }
        return std::string(pattern) + "/input";
    }();
    return path;
}

bool sameBytes(const Bytes& encoded, const std::uint8_t* data, std::size_t size) {
    return encoded.size() == size && std::memcmp(encoded.data(), data, size) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = scratchFile();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) {
        fail("cannot write the scratch file");
    }
    std::string error;
    const std::unique_ptr<RecordingReader> reader = RecordingReader::open(path, error);
    if (!reader) {
        if (error.empty()) {
            fail("a file was refused without a reason");
        }
        return 0;
    }
    const bool recording = reader->kind() == FileKind::Recording;
    const std::size_t headerSize =
        recording ? static_cast<std::size_t>(data[10] | data[11] << 8) : 0;
    Bytes encoded(data, data + headerSize); // the header is taken as it stands
    std::size_t lastStart = 0;              // where the last chunk read began in `encoded`
    Bytes lastBytes;
    std::size_t rawRead = 0;
    std::int64_t lastTime = -1;
    Chunk chunk;
    while (reader->next(chunk)) {
        if (chunk.bytes.size() > MaxChunkBytes || chunk.timeMicros < lastTime ||
            (chunk.deviceLost && !chunk.bytes.empty()) ||
            (!chunk.deviceLost && chunk.bytes.empty())) {
            fail("a chunk no writer makes");
        }
        lastTime = chunk.timeMicros;
        if (!recording) {
            for (std::uint8_t byte : chunk.bytes) {
                if (rawRead >= size || byte != (data[rawRead] & 0x7F)) {
                    fail("a raw dump read back other bytes");
                }
                ++rawRead;
            }
            continue;
        }
        lastStart = encoded.size();
        lastBytes = chunk.bytes;
        if (chunk.deviceLost) {
            appendLossMark(encoded, static_cast<std::uint32_t>(chunk.timeMicros / 1000));
        } else {
            appendChunks(encoded, static_cast<std::uint32_t>(chunk.timeMicros / 1000), chunk.bytes);
        }
    }
    const Ending ending = reader->ending();
    if (ending == Ending::Running) {
        fail("the reading stopped without an ending");
    }
    if (!recording) {
        if (ending != Ending::Complete || rawRead != size) {
            fail("a raw dump was not read to its end");
        }
        return 0;
    }
    const std::size_t at = static_cast<std::size_t>(reader->endingOffset());
    switch (ending) {
    case Ending::Complete:
        if (!sameBytes(encoded, data, size)) {
            fail("a complete recording reads back as other bytes");
        }
        break;
    case Ending::Damaged:
        if (at > size || !sameBytes(encoded, data, at)) {
            fail("what came before the damage reads back as other bytes");
        }
        break;
    case Ending::Cut:
        if (at > size) {
            fail("a cut past the end of the file");
        }
        if (at == lastStart && !lastBytes.empty()) {
            // The cut chunk was read: its bytes are those the file holds after its header.
            encoded.resize(lastStart);
            if (!sameBytes(encoded, data, at) || at + ChunkHeaderSize + lastBytes.size() > size ||
                std::memcmp(lastBytes.data(), data + at + ChunkHeaderSize, lastBytes.size()) != 0) {
                fail("a cut chunk reads back as other bytes");
            }
        } else if (!sameBytes(encoded, data, at)) {
            fail("what came before the cut reads back as other bytes");
        }
        break;
    case Ending::Running:
        break;
    }
    return 0;
}
