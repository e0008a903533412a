// veltrace-sim: a simulated handheld scope on a pseudo-terminal.
//
// It opens a pseudo-terminal, prints the device path of its far side (and, with --link, keeps
// a symlink to it), and streams well-formed frames there the way the scope does: at the line
// rate of 19200 baud 7N1 (about 2133 bytes/s, one 138-byte frame every 65 ms), at a chosen
// rate, or as fast as the pseudo-terminal takes them. Or it sends a recording as it was
// recorded, so a session can go through the real serial path again. Point Veltrace at it with
// VELTRACE_COM<n>=<path> and COMPort=COM<n> in its Veltrace.ini.
#include "record/recording.h"
#include "simframes/frames.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <string_view>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace veltrace::sim;
namespace record = veltrace::record;
using Clock = std::chrono::steady_clock;

// 19200 baud, 9 bit times per character (start, 7 data, stop).
constexpr double LineRate = 19200.0 / 9.0;
constexpr int PaceMs = 10;

std::atomic<bool> stopSignal{false};

extern "C" void onStopSignal(int) {
    stopSignal = true;
}

struct Options {
    WaveShape shape{Waveform::Sine, 500.0, 20, 32};
    Coupling coupling = Coupling::Dc;
    Range range = Range::V10;
    int timebase = 6;
    Source source = Source::IntPlus;
    bool single = false;
    Level level = Level::P01;
    double rate = LineRate; // bytes per second; 0 = as fast as the pty takes
    double corruptProbability = 0.0;
    std::uint32_t seed = 1;
    long long frames = -1;      // stop after this many; -1 = run until stopped
    double lingerSeconds = 1.0; // after the last of --frames, before the far side hangs up
    bool silent = false;        // keep the device open but send nothing
    bool still = false;         // every frame the same: sampled at time 0, noise from the seed
    std::string linkPath;
    std::string replayPath;     // serve this recording or raw dump instead of generated frames
    std::string frameTimesPath; // log each generated frame's last-byte time here
    // The clock of those times. CLOCK_MONOTONIC_RAW is the one Wine derives a Windows program's
    // performance counter from, so a program under Wine can be timed against the same clock.
    clockid_t frameClock = CLOCK_MONOTONIC;
};

const char* const usageText =
    "Usage: veltrace-sim [options]\n"
    "A simulated scope on a pseudo-terminal. Prints the device path, then streams frames.\n"
    "\n"
    "  --link PATH        keep a symlink PATH to the device (replaced atomically, removed at "
    "exit)\n"
    "  --rate N           bytes per second (default 2133, the scope's 19200 baud 7N1 line)\n"
    "  --fast             as fast as the pseudo-terminal takes them\n"
    "  --frames N         stop after N frames\n"
    "  --silent           keep the device open and send nothing until stopped\n"
    "  --replay FILE      send a recording made by veltrace, or a raw dump, at its own pace\n"
    "                     (a raw dump at the line's 2133 bytes/s), or with --fast as fast as\n"
    "                     the pseudo-terminal takes it; ends after the file (and --linger)\n"
    "  --linger S         after the last of --frames N, keep the device open S seconds (default "
    "1)\n"
    "  --wave W           sine|square|triangle|noise|flat (default sine)\n"
    "  --freq HZ          signal frequency (default 500)\n"
    "  --amplitude STEPS  peak amplitude in sample steps (default 20)\n"
    "  --offset STEPS     centre value in sample steps (default 32 = screen centre)\n"
    "  --duty PERCENT     share of each period a square is high, 0..100 (default 50)\n"
    "  --coupling C       gnd|ac|dc (default dc)\n"
    "  --range R          1|10|100 volts (default 10)\n"
    "  --timebase T       0..9 (default 6 = 50us per sample)\n"
    "  --trigger S        auto|+int|-int|+ext|-ext (default +int)\n"
    "  --single           single-shot run mode instead of RUN\n"
    "  --level L          -0.5|+0.5|+0.3|+0.1|-0.1|-0.3 (default +0.1)\n"
    "  --corrupt P        drop or flip each byte with probability P (0..1)\n"
    "  --seed N           seed of the corruption and noise generators (default 1)\n"
    "  --still            send the same frame every time (a trace that stands still)\n"
    "  --frame-times FILE for each generated frame written whole, the time its last byte was\n"
    "                     written, in ns of the monotonic clock, one a line\n"
    "  --frame-clock monotonic|raw  the clock of --frame-times: CLOCK_MONOTONIC (default) or\n"
    "                     CLOCK_MONOTONIC_RAW (the one under Wine's performance counter)\n"
    "  --help             this text\n"
    "\n"
    "Examples:\n"
    "  veltrace-sim --link /tmp/scope &\n"
    "  VELTRACE_COM1=/tmp/scope veltrace     (with COMPort=COM1 in section [COM] of "
    "Veltrace.ini)\n"
    "  veltrace-sim --link /tmp/scope --replay session.vtrec &\n";

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "veltrace-sim: %s\n(see veltrace-sim --help)\n", message.c_str());
    std::exit(2);
}

double numberArgument(const std::string& option, const std::string& text) {
    try {
        std::size_t used = 0;
        const double value = std::stod(text, &used);
        if (used == text.size()) {
            return value;
        }
    } catch (const std::exception&) {
    }
    usageError("option " + option + " needs a number, not '" + text + "'");
}

template <typename T>
T choice(const std::string& option, const std::string& text,
         std::initializer_list<std::pair<std::string_view, T>> table) {
    for (const auto& [name, value] : table) {
        if (text == name) {
            return value;
        }
    }
    usageError("option " + option + " does not accept '" + text + "'");
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usageError("option " + option + " needs a value");
            }
            return argv[++i];
        };
        if (option == "--help" || option == "-h") {
            std::fputs(usageText, stdout);
            std::exit(0);
        } else if (option == "--link") {
            o.linkPath = value();
        } else if (option == "--rate") {
            o.rate = numberArgument(option, value());
            if (o.rate <= 0) {
                usageError("--rate must be positive");
            }
        } else if (option == "--fast") {
            o.rate = 0;
        } else if (option == "--frames") {
            o.frames = static_cast<long long>(numberArgument(option, value()));
        } else if (option == "--frame-times") {
            o.frameTimesPath = value();
        } else if (option == "--frame-clock") {
            o.frameClock = choice<clockid_t>(
                option, value(), {{"monotonic", CLOCK_MONOTONIC}, {"raw", CLOCK_MONOTONIC_RAW}});
        } else if (option == "--silent") {
            o.silent = true;
        } else if (option == "--replay") {
            o.replayPath = value();
        } else if (option == "--linger") {
            o.lingerSeconds = numberArgument(option, value());
        } else if (option == "--wave") {
            o.shape.waveform = choice<Waveform>(option, value(),
                                                {{"sine", Waveform::Sine},
                                                 {"square", Waveform::Square},
                                                 {"triangle", Waveform::Triangle},
                                                 {"noise", Waveform::Noise},
                                                 {"flat", Waveform::Flat}});
        } else if (option == "--freq") {
            o.shape.frequencyHz = numberArgument(option, value());
        } else if (option == "--amplitude") {
            o.shape.amplitude = static_cast<int>(numberArgument(option, value()));
        } else if (option == "--offset") {
            o.shape.offset = static_cast<int>(numberArgument(option, value()));
        } else if (option == "--duty") {
            const double percent = numberArgument(option, value());
            if (!(percent >= 0 && percent <= 100)) {
                usageError("--duty takes a percentage 0..100");
            }
            o.shape.duty = percent / 100.0;
        } else if (option == "--coupling") {
            o.coupling = choice<Coupling>(
                option, value(),
                {{"gnd", Coupling::Gnd}, {"ac", Coupling::Ac}, {"dc", Coupling::Dc}});
        } else if (option == "--range") {
            o.range = choice<Range>(option, value(),
                                    {{"1", Range::V1}, {"10", Range::V10}, {"100", Range::V100}});
        } else if (option == "--timebase") {
            const double code = numberArgument(option, value());
            if (code < 0 || code > 9 || code != static_cast<int>(code)) {
                usageError("--timebase takes a code 0..9");
            }
            o.timebase = static_cast<int>(code);
        } else if (option == "--trigger") {
            o.source = choice<Source>(option, value(),
                                      {{"auto", Source::Auto},
                                       {"+int", Source::IntPlus},
                                       {"-int", Source::IntMinus},
                                       {"+ext", Source::ExtPlus},
                                       {"-ext", Source::ExtMinus}});
        } else if (option == "--single") {
            o.single = true;
        } else if (option == "--level") {
            o.level = choice<Level>(option, value(),
                                    {{"-0.5", Level::M05},
                                     {"+0.5", Level::P05},
                                     {"+0.3", Level::P03},
                                     {"+0.1", Level::P01},
                                     {"-0.1", Level::M01},
                                     {"-0.3", Level::M03}});
        } else if (option == "--corrupt") {
            o.corruptProbability = numberArgument(option, value());
            if (o.corruptProbability < 0 || o.corruptProbability > 1) {
                usageError("--corrupt takes a probability 0..1");
            }
        } else if (option == "--seed") {
            o.seed = static_cast<std::uint32_t>(numberArgument(option, value()));
        } else if (option == "--still") {
            o.still = true;
        } else {
            usageError("unknown option " + option);
        }
    }
    if (!o.replayPath.empty() && (o.silent || o.frames >= 0 || o.corruptProbability > 0)) {
        usageError("--replay sends the file as it is: not with --silent, --frames or --corrupt");
    }
    if (!o.frameTimesPath.empty() && (!o.replayPath.empty() || o.corruptProbability > 0)) {
        // Both cut the stream anywhere: where a frame ends is not known any more.
        usageError(
            "--frame-times goes with whole generated frames: not with --replay or --corrupt");
    }
    return o;
}

// The master side of a pseudo-terminal whose slave is already in raw mode, so bytes written
// before a reader configures it are neither echoed nor translated.
int openPseudoTerminal(std::string& slavePath) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        return -1;
    }
    const char* name = ptsname(master);
    if (name == nullptr) {
        close(master);
        return -1;
    }
    slavePath = name;
    termios t{};
    // On a master descriptor these calls reach the slave's settings.
    if (tcgetattr(master, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    // Open and close the far side once: from then on the master reports POLLHUP whenever no
    // reader has the device open (a fresh pair does not), which is how the stream knows that
    // nobody listens.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        close(slave);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return master;
}

bool replaceSymlink(const std::string& target, const std::string& linkPath) {
    const std::string temporary = linkPath + ".tmp" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        return false;
    }
    if (rename(temporary.c_str(), linkPath.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

// Removes the link only while it still points at our device (another simulator may own it now).
void removeSymlink(const std::string& target, const std::string& linkPath) {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink(linkPath.c_str(), buffer.data(), buffer.size() - 1);
    if (length > 0 && std::string(buffer.data(), static_cast<std::size_t>(length)) == target) {
        unlink(linkPath.c_str());
    }
}

class FrameSource {
  public:
    explicit FrameSource(const Options& options)
        : options_(options), start_(Clock::now()), noise_(options.seed),
          corruption_(options.seed ^ 0xA5A5A5A5u) {
        settings_.switches = switchesByte(options.coupling, options.range);
        settings_.timebase = static_cast<std::uint8_t>(options.timebase);
        settings_.trigger = triggerByte(options.source, options.single);
        settings_.level = levelByte(options.level);
    }

    // The next frame, sampled at the present moment so the trace moves with real time; or, for
    // a picture that does not depend on when it is looked at, always the first frame.
    std::vector<std::uint8_t> next() {
        const double nowUs =
            options_.still
                ? 0.0
                : std::chrono::duration<double, std::micro>(Clock::now() - start_).count();
        if (options_.still) {
            noise_ = options_.seed;
        }
        const FrameSamplesArray samples =
            sampleWaveform(options_.shape, timePerSampleUs(options_.timebase), nowUs, noise_);
        std::vector<std::uint8_t> frame = buildFrame(settings_, samples);
        if (options_.corruptProbability > 0) {
            frame = corruptBytes(frame, options_.corruptProbability / 2,
                                 options_.corruptProbability / 2, corruption_);
        }
        return frame;
    }

  private:
    const Options& options_;
    Clock::time_point start_;
    FrameSettings settings_;
    std::uint32_t noise_;
    std::uint32_t corruption_;
};

struct Totals {
    long long framesQueued = 0;
    long long bytesWritten = 0;
    long long bytesLost = 0;
    // Where in the stream of generated frames the next byte written or lost stands, and the
    // file that gets the time of each frame's last byte (null: none).
    long long streamOffset = 0;
    std::FILE* frameTimes = nullptr;
    clockid_t frameClock = CLOCK_MONOTONIC;
    std::optional<Clock::time_point> firstWrite;
    Clock::time_point lastWrite;
};

// True while some program has the device open.
bool readerPresent(int master) {
    pollfd p{master, POLLOUT, 0};
    return poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) == 0;
}

// Writes up to `count` bytes from the front of the queue. Returns false when the pty refused
// (full, or nobody has the slave open: EIO), so the caller waits instead of spinning.
bool writeSome(int master, std::deque<std::uint8_t>& queue, std::size_t count, Totals& totals) {
    std::vector<std::uint8_t> chunk(
        queue.begin(), queue.begin() + static_cast<long>(std::min(count, queue.size())));
    // Stamped before the write: the reader may have the bytes before the write returns.
    timespec before{};
    clock_gettime(totals.frameClock, &before);
    const ssize_t written = write(master, chunk.data(), chunk.size());
    if (written <= 0) {
        return false;
    }
    if (totals.frameTimes != nullptr) {
        const long long from = totals.streamOffset;
        const long long to = from + written;
        const long long ns = static_cast<long long>(before.tv_sec) * 1000000000LL + before.tv_nsec;
        // A frame's last byte is the one at the end of each FrameBytes of the stream.
        for (long long end = (from / FrameBytes + 1) * FrameBytes; end <= to; end += FrameBytes) {
            std::fprintf(totals.frameTimes, "%lld\n", ns);
        }
    }
    totals.streamOffset += written;
    queue.erase(queue.begin(), queue.begin() + written);
    totals.bytesWritten += written;
    totals.lastWrite = Clock::now();
    if (!totals.firstWrite) {
        totals.firstWrite = totals.lastWrite;
    }
    return true;
}

void sleepMs(int milliseconds) {
    timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

// Sends the recording's bytes when their recorded time has come (or as fast as the pty takes
// them). Like the line, a paced replay does not wait for a listener: what nobody reads is lost.
void serveRecording(int master, record::RecordingReader& reader, const Options& options,
                    Totals& totals) {
    const bool fast = options.rate <= 0;
    std::deque<std::uint8_t> queue;
    record::Chunk chunk;
    bool more = reader.next(chunk);
    const auto start = Clock::now();
    while (!stopSignal && (more || !queue.empty())) {
        const double elapsedUs =
            std::chrono::duration<double, std::micro>(Clock::now() - start).count();
        while (more && (fast ? queue.size() < 4 * FrameBytes
                             : static_cast<double>(chunk.timeMicros) <= elapsedUs)) {
            // A mark of a lost device has no bytes: the simulator keeps its device.
            queue.insert(queue.end(), chunk.bytes.begin(), chunk.bytes.end());
            more = reader.next(chunk);
        }
        if (fast) {
            if (!readerPresent(master)) {
                sleepMs(PaceMs);
            } else if (!queue.empty() && !writeSome(master, queue, queue.size(), totals)) {
                pollfd p{master, POLLOUT, 0};
                if (poll(&p, 1, PaceMs) <= 0 || (p.revents & (POLLERR | POLLHUP)) != 0) {
                    sleepMs(PaceMs);
                }
            }
            continue;
        }
        if (!queue.empty() &&
            (!readerPresent(master) || !writeSome(master, queue, queue.size(), totals))) {
            totals.bytesLost += static_cast<long long>(queue.size());
            queue.clear();
        }
        sleepMs(PaceMs);
    }
    const std::string ending = record::endingText(reader);
    if (!ending.empty()) {
        std::fprintf(stderr, "veltrace-sim: %s: %s\n", options.replayPath.c_str(), ending.c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);

    std::unique_ptr<record::RecordingReader> replay;
    if (!options.replayPath.empty()) {
        std::string error;
        replay = record::RecordingReader::open(options.replayPath, error);
        if (!replay) {
            std::fprintf(stderr, "veltrace-sim: cannot replay: %s\n", error.c_str());
            return 1;
        }
    }

    std::string slavePath;
    const int master = openPseudoTerminal(slavePath);
    if (master < 0) {
        std::fprintf(stderr, "veltrace-sim: cannot open a pseudo-terminal: %s\n",
                     std::strerror(errno));
        return 1;
    }
    if (!options.linkPath.empty() && !replaceSymlink(slavePath, options.linkPath)) {
        std::fprintf(stderr, "veltrace-sim: cannot make the link %s: %s\n",
                     options.linkPath.c_str(), std::strerror(errno));
        close(master);
        return 1;
    }
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    FrameSource source(options);
    std::deque<std::uint8_t> queue;
    Totals totals;
    totals.frameClock = options.frameClock;
    if (!options.frameTimesPath.empty()) {
        totals.frameTimes = std::fopen(options.frameTimesPath.c_str(), "w");
        if (totals.frameTimes == nullptr) {
            std::fprintf(stderr, "veltrace-sim: cannot write %s: %s\n",
                         options.frameTimesPath.c_str(), std::strerror(errno));
            close(master);
            return 1;
        }
    }
    const auto start = Clock::now();
    auto moreFrames = [&] { return options.frames < 0 || totals.framesQueued < options.frames; };

    if (replay) {
        serveRecording(master, *replay, options, totals);
    }
    while (!stopSignal && options.silent) {
        // Nothing to send: sleep long, so the simulator itself adds next to no wake-ups to a
        // measurement of the idle reader. A stop signal ends the sleep at once.
        sleepMs(1000);
    }
    while (!stopSignal && !replay) {
        if (options.rate <= 0) {
            // As fast as the pty takes them: keep a few frames queued, wait for room.
            while (queue.size() < 4 * FrameBytes && moreFrames()) {
                const auto frame = source.next();
                queue.insert(queue.end(), frame.begin(), frame.end());
                ++totals.framesQueued;
            }
            if (queue.empty()) {
                break;
            }
            if (!readerPresent(master)) {
                sleepMs(PaceMs);
                continue;
            }
            if (!writeSome(master, queue, queue.size(), totals)) {
                pollfd p{master, POLLOUT, 0};
                if (poll(&p, 1, PaceMs) <= 0 || (p.revents & (POLLERR | POLLHUP)) != 0) {
                    // Nobody reads (EIO without a slave): do not spin.
                    sleepMs(PaceMs);
                }
            }
            continue;
        }
        // Paced: the bytes due by now, like the line delivers them.
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const long long due =
            static_cast<long long>(elapsed * options.rate) - totals.bytesWritten - totals.bytesLost;
        while (static_cast<long long>(queue.size()) < due && moreFrames()) {
            const auto frame = source.next();
            queue.insert(queue.end(), frame.begin(), frame.end());
            ++totals.framesQueued;
        }
        if (queue.empty() && !moreFrames()) {
            break;
        }
        if (due > 0 && !queue.empty()) {
            const std::size_t count =
                std::min<std::size_t>(static_cast<std::size_t>(due), queue.size());
            if (!readerPresent(master) || !writeSome(master, queue, count, totals)) {
                // A real line does not wait for its listener: what nobody reads, or what finds
                // no room, is lost.
                queue.erase(queue.begin(), queue.begin() + static_cast<long>(count));
                totals.bytesLost += static_cast<long long>(count);
                totals.streamOffset += static_cast<long long>(count);
            }
        }
        sleepMs(PaceMs);
    }

    if (!stopSignal && (options.frames >= 0 || replay)) {
        // Give the reader a moment to take the last frames before the far side hangs up.
        for (int i = 0; i < options.lingerSeconds * 1000 / PaceMs && !stopSignal; ++i) {
            sleepMs(PaceMs);
        }
    }
    if (!options.linkPath.empty()) {
        removeSymlink(slavePath, options.linkPath);
    }
    close(master);
    if (totals.frameTimes != nullptr && std::fclose(totals.frameTimes) != 0) {
        std::fprintf(stderr, "veltrace-sim: cannot write %s\n", options.frameTimesPath.c_str());
    }
    // Without corruption every frame is FrameBytes long, so whole frames written follow from the
    // byte count.
    const long long framesSent = totals.bytesWritten / FrameBytes;
    const double seconds =
        totals.firstWrite
            ? std::chrono::duration<double>(totals.lastWrite - *totals.firstWrite).count()
            : 0.0;
    std::fprintf(stderr,
                 "veltrace-sim: %lld frames sent (%lld bytes written, %lld bytes lost) in %.2f s",
                 framesSent, totals.bytesWritten, totals.bytesLost, seconds);
    if (seconds > 0) {
        std::fprintf(stderr, ", %.1f frames/s", static_cast<double>(framesSent) / seconds);
    }
    std::fprintf(stderr, "\n");
    return 0;
}
