// Writes the seed corpora of the fuzz targets: frames the simulator's frame builder makes (every
// settings code, sync variants, a few corrupted and split streams) for the decoder, a few
// settings files for the settings reader and writer, and recordings (whole, with a mark of a lost
// device, cut, damaged) and a raw dump for the recording reader.
//   make_seeds <decoder-corpus-dir> <settings-corpus-dir> <recording-corpus-dir>
#include "record/recording.h"
#include "simframes/frames.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace veltrace::sim;
using Bytes = std::vector<std::uint8_t>;

void write(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void write(const std::string& path, const std::string& text) {
    write(path, Bytes(text.begin(), text.end()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_seeds <decoder-corpus-dir> <settings-corpus-dir> "
                             "<recording-corpus-dir>\n");
        return 2;
    }
    const std::string decoder = argv[1];
    const std::string settings = argv[2];
    const std::string recordings = argv[3];
    std::uint32_t noise = 7;
    int n = 0;
    // Every coupling and range, every timebase code, every trigger source and level.
    const Coupling couplings[] = {Coupling::Gnd, Coupling::Ac, Coupling::Dc};
    const Range ranges[] = {Range::V1, Range::V10, Range::V100};
    const Source sources[] = {Source::Auto, Source::ExtMinus, Source::ExtPlus, Source::IntMinus,
                              Source::IntPlus};
    const Level levels[] = {Level::M05, Level::P05, Level::P03, Level::P01, Level::M01, Level::M03};
    Bytes allCodes;
    for (int k = 0; k < 30; ++k) {
        const FrameSettings frameSettings{
            switchesByte(couplings[k % 3], ranges[(k / 3) % 3]), static_cast<std::uint8_t>(k % 10),
            triggerByte(sources[k % 5], k % 2 == 1), levelByte(levels[k % 6])};
        const auto samples = sampleWaveform(WaveShape{Waveform::Sine, 500.0 + 50 * k, 20, 32},
                                            timePerSampleUs(k % 10), 0.0, noise);
        const Bytes frame =
            buildFrame(frameSettings, samples, static_cast<std::uint8_t>(0x7C + k % 4),
                       {static_cast<std::uint8_t>(k % 10), 4, 2, 0x11});
        allCodes.insert(allCodes.end(), frame.begin(), frame.end());
        if (k < 6) {
            write(decoder + "/frame-" + std::to_string(n++), frame);
        }
    }
    write(decoder + "/all-codes", allCodes);
    // Line trouble: dropped and flipped bits, and channel switches (bit 7) in the middle.
    std::uint32_t rng = 99;
    write(decoder + "/corrupted", corruptBytes(allCodes, 0.02, 0.02, rng));
    Bytes switching;
    for (std::size_t i = 0; i < allCodes.size(); ++i) {
        if (i % 137 == 4) {
            switching.push_back(static_cast<std::uint8_t>(0x80 | (i / 137) % 4));
        }
        switching.push_back(allCodes[i]);
    }
    write(decoder + "/switching", switching);
    write(decoder + "/no-sync", Bytes(600, 0x11));

    // Settings: the value's length in the first byte, then the value, then the file.
    const auto seed = [&settings](const std::string& name, const std::string& value,
                                  const std::string& file) {
        std::string text(1, static_cast<char>(value.size()));
        write(settings + "/" + name, text + value + file);
    };
    seed("plain", "COM3", "[COM]\nCOMPort=COM1\n");
    seed("crlf", "COM12", "; bench\r\n[com]\r\ncomport = \"COM2\"\r\n[Other]\r\nKey=1\r\n");
    seed("no-section", "COM4", "[Other]\nKey=1");
    seed("empty-file", "COM9", "");
    seed("quoted", " spaced ", "[COM]\nCOMPort='x'\n[COM]\nCOMPort=y\n");
    seed("long", std::string(200, 'v'), "[COM]\nCOMPort=" + std::string(300, 'w') + "\n");
    // Recordings: the stream above in reads of about 21 bytes every 10 ms, with a lost device
    // in the middle; the same cut short and with a changed byte; and a raw dump.
    Bytes recording = veltrace::record::encodeHeader(1768471200LL * 1000000);
    for (std::size_t at = 0, tick = 1; at < allCodes.size() && at < 1200; ++tick) {
        const std::size_t size = std::min<std::size_t>(21, allCodes.size() - at);
        veltrace::record::appendChunks(recording, static_cast<std::uint32_t>(10 * tick),
                                       Bytes(allCodes.begin() + static_cast<long>(at),
                                             allCodes.begin() + static_cast<long>(at + size)));
        if (tick == 20) {
            veltrace::record::appendLossMark(recording, 1500);
            tick = 150;
        }
        at += size;
    }
    write(recordings + "/whole", recording);
    write(recordings + "/cut", Bytes(recording.begin(), recording.end() - 7));
    Bytes damaged = recording;
    damaged[damaged.size() / 2] ^= 0x10;
    write(recordings + "/damaged", damaged);
    write(recordings + "/raw-dump", Bytes(allCodes.begin(), allCodes.begin() + 400));
    return 0;
}
