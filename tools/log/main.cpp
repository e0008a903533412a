// veltrace-log: every frame of the scope's stream as a row of CSV, from a port or a recording,
// without a window; optionally the capture of each frame as a PNG file.
#include "display/capture.h"
#include "link/frame_log.h"
#include "link/port_survey.h"
#include "link/reconnecting_port.h"
#include "link/serial_port.h"
#include "log/frame_logger.h"
#include "record/recording.h"
#include "toolkit/toolkit.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace veltrace;

constexpr int CaptureFont = 1;
constexpr int ReadPauseMs = 10;
constexpr std::size_t WriteThreshold = 64 * 1024;
constexpr std::int64_t LiveFlushMicros = 1000000;
constexpr std::int64_t ProgressMicros = 500000;

const char* const usageText =
    "Usage: veltrace-log (--port NAME | --replay FILE) [options]\n"
    "Writes every complete frame of the scope's stream as a row of CSV (UTF-8, header row).\n"
    "\n"
    "  --port NAME      read the port COM1..COM16 (mapped as in veltrace: VELTRACE_COM<n>,\n"
    "                   /dev/ttyS0-3, /dev/ttyUSB0-7, /dev/ttyACM0-3), or 'auto' for the first\n"
    "                   port on which the scope is sending (as veltrace's port list finds it)\n"
    "  --replay FILE    read a recording made by veltrace, or a raw dump of the line, as fast\n"
    "                   as it can be read; the times are those of the recording\n"
    "  --output FILE    write the CSV to FILE instead of standard output\n"
    "  --force          replace FILE if it exists (otherwise that is an error)\n"
    "  --frames N       stop after N frames\n"
    "  --duration S     stop after S seconds of the stream\n"
    "  --captures DIR   also write each frame's capture (the one-channel view's CAPTURE) to\n"
    "                   DIR, named by frame number: frame-000001.png, ...\n"
    "  --every N        with --captures: only every Nth frame (N, 2N, ...)\n"
    "  --measure        add the frame's measurements after the samples (see below)\n"
    "  --help           this text\n"
    "\n"
    "Columns: time (local, ISO 8601 with milliseconds), frame, switches, volts_per_div,\n"
    "timebase, us_per_sample, trigger, reading (the scope's own numeric reading), reading_mark\n"
    "(high or low), s0 ... s128 (the raw samples). A frame that arrived damaged gets no row.\n"
    "With --measure also: v_pp, v_amplitude, v_ac_rms (volts), frequency_hz, period_s,\n"
    "width_pos_s, width_neg_s (seconds), duty_percent, rise_s, fall_s (10 % to 90 %),\n"
    "reading_v (the scope's reading in volts): plain decimal numbers with 9 significant\n"
    "digits, empty where the frame gives no value (a flat or clipped trace, less than a period).\n"
    "Ctrl-C stops cleanly: every row written so far is complete.\n"
    "\n"
    "Examples:\n"
    "  veltrace-log --port COM5 --duration 60 --output minute.csv\n"
    "  veltrace-log --replay session.vtrec --captures pictures --every 10 > session.csv\n";

std::atomic<bool> stopRequested{false};

extern "C" void onStopSignal(int) {
    stopRequested = true;
}

struct Options {
    std::string port;
    std::string replay;
    std::string output;
    bool force = false;
    std::uint64_t frames = 0;
    double duration = 0; // seconds; 0 = no limit
    std::string captures;
    std::uint64_t every = 1;
    bool measure = false;
};

[[noreturn]] void usageError(const std::string& message) {
    std::fprintf(stderr, "veltrace-log: %s (see veltrace-log --help)\n", message.c_str());
    std::exit(2);
}

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "veltrace-log: %s\n", message.c_str());
    std::exit(1);
}

double positiveNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) || value <= 0) {
        usageError(option + " needs a positive number, not '" + text + "'");
    }
    return value;
}

std::uint64_t positiveCount(const std::string& option, const std::string& text) {
    const double value = positiveNumber(option, text);
    if (value != std::floor(value) || value > 1e15) {
        usageError(option + " needs a whole number, not '" + text + "'");
    }
    return static_cast<std::uint64_t>(value);
}

Options parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                usageError(option + " needs a value");
            }
            return argv[++i];
        };
        if (option == "--help" || option == "-h") {
            std::fputs(usageText, stdout);
            std::exit(0);
        } else if (option == "--port") {
            o.port = value();
        } else if (option == "--replay") {
            o.replay = value();
        } else if (option == "--output") {
            o.output = value();
        } else if (option == "--force") {
            o.force = true;
        } else if (option == "--frames") {
            o.frames = positiveCount(option, value());
        } else if (option == "--duration") {
            o.duration = positiveNumber(option, value());
        } else if (option == "--captures") {
            o.captures = value();
        } else if (option == "--every") {
            o.every = positiveCount(option, value());
        } else if (option == "--measure") {
            o.measure = true;
        } else {
            usageError("unknown option '" + option + "'");
        }
    }
    if (o.port.empty() == o.replay.empty()) {
        usageError("give either --port or --replay");
    }
    if (o.force && o.output.empty()) {
        usageError("--force goes with --output");
    }
    if (o.every != 1 && o.captures.empty()) {
        usageError("--every goes with --captures");
    }
    return o;
}

// Writes whole rows only. False when the destination refuses (a full disk, a closed pipe).
bool writeRows(int fd, std::string& rows, std::string& error) {
    std::size_t done = 0;
    while (done < rows.size()) {
        const ssize_t n = ::write(fd, rows.data() + done, rows.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = n < 0 && errno == EPIPE ? "" : std::strerror(n < 0 ? errno : ENOSPC);
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    rows.clear();
    return true;
}

// The CSV's destination, opened with its header row written. A new file must not exist unless
// --force; a replaced one is replaced only once the new one has its header.
int openOutput(const Options& options, const std::string& header) {
    std::string error;
    if (options.output.empty()) {
        std::string rows = header;
        if (!writeRows(STDOUT_FILENO, rows, error)) {
            fail("cannot write the CSV" + (error.empty() ? "" : ": " + error));
        }
        return STDOUT_FILENO;
    }
    const std::filesystem::path target(options.output);
    std::string path = options.output;
    if (options.force) {
        const std::filesystem::path directory =
            target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path();
        path = (directory / ("." + target.filename().string() + "." + std::to_string(getpid())))
                   .string();
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST && !options.force) {
            fail(options.output + " already exists (--force replaces it)");
        }
        fail("cannot create " + options.output + ": " + std::strerror(errno));
    }
    const ssize_t written = ::write(fd, header.data(), header.size());
    if (written != static_cast<ssize_t>(header.size()) ||
        (options.force && std::rename(path.c_str(), options.output.c_str()) != 0)) {
        const std::string why = std::strerror(errno);
        ::close(fd);
        ::unlink(path.c_str());
        fail("cannot write " + options.output + ": " + why);
    }
    return fd;
}

void prepareCaptures(Options& options, logtool::LoggerOptions& logger) {
    if (options.captures.empty()) {
        return;
    }
    std::error_code error;
    std::filesystem::create_directories(options.captures, error);
    if (error || ::access(options.captures.c_str(), W_OK) != 0) {
        fail("cannot write captures to " + options.captures +
             (error ? ": " + error.message() : ": " + std::string(std::strerror(errno))));
    }
    if (toolkit::toolkitInitHeadless() == 0 ||
        toolkit::fontLoad(CaptureFont, display::CaptureFontFace, display::CaptureFontPoints) == 0) {
        fail("cannot draw text for the captures");
    }
    logger.capturesDir = options.captures;
    logger.every = options.every;
    logger.font = toolkit::fontHandle(CaptureFont);
}

class Progress {
  public:
    Progress() : shown_(isatty(STDERR_FILENO) != 0) {}
    void update(const logtool::FrameLogger& logger, double seconds, bool force = false) {
        if (!shown_) {
            return;
        }
        const std::int64_t now = record::wallClockMicros();
        if (!force && now - last_ < ProgressMicros) {
            return;
        }
        last_ = now;
        std::fprintf(stderr, "\rveltrace-log: %llu frames, %llu damaged, %.1f s ",
                     static_cast<unsigned long long>(logger.rows()),
                     static_cast<unsigned long long>(logger.rejected()), seconds);
    }
    void end() {
        if (shown_) {
            std::fputc('\n', stderr);
        }
    }

  private:
    bool shown_;
    std::int64_t last_ = 0;
};

// Outcome of a run: 0 when the CSV got every row, 1 when it could not be written.
struct Outcome {
    int code = 0;
    std::string error;
};

Outcome logReplay(const Options& options, record::RecordingReader& reader,
                  logtool::FrameLogger& logger, int out) {
    std::string error;
    Progress progress;
    std::string rows;
    record::Chunk chunk;
    const std::int64_t limitMicros = static_cast<std::int64_t>(options.duration * 1e6);
    double seconds = 0;
    while (!stopRequested && !logger.done() && reader.next(chunk)) {
        if (limitMicros > 0 && chunk.timeMicros > limitMicros) {
            break;
        }
        seconds = static_cast<double>(chunk.timeMicros) / 1e6;
        if (chunk.deviceLost) {
            logger.deviceLost();
        }
        logger.feed(chunk.bytes, reader.startMicros() + chunk.timeMicros, rows);
        if (rows.size() >= WriteThreshold && !writeRows(out, rows, error)) {
            return {1, error};
        }
        progress.update(logger, seconds);
    }
    progress.update(logger, seconds, true);
    progress.end();
    if (!writeRows(out, rows, error)) {
        return {1, error};
    }
    const std::string ending = record::endingText(reader);
    if (!ending.empty()) {
        std::fprintf(stderr, "veltrace-log: %s: %s\n", options.replay.c_str(), ending.c_str());
    }
    return {};
}

std::string choosePort(const std::string& asked) {
    if (asked != "auto") {
        return asked;
    }
    const std::string found = link::firstScopePort(link::surveyPorts());
    if (found.empty()) {
        fail("no port with the scope sending on it (veltrace --list-ports shows them all)");
    }
    std::fprintf(stderr, "veltrace-log: the scope is on %s\n", found.c_str());
    return found;
}

// The port named by --port, open; a name that is no port, or one that cannot be opened, ends
// the program before anything is written.
std::unique_ptr<link::ReconnectingPort> openLogPort(const Options& options) {
    link::PortConfig config;
    config.portName = choosePort(options.port);
    if (link::comDevicePath(config.portName).empty()) {
        usageError("--port takes COM1..COM16 or auto, not '" + options.port + "'");
    }
    std::shared_ptr<link::SerialPort> opened = link::openPort(config);
    if (!opened) {
        fail("cannot open " + config.portName + " (" + link::comDevicePath(config.portName) +
             "): missing, busy, or no permission");
    }
    // Like the window: a device that goes away is waited for and opened again.
    return std::make_unique<link::ReconnectingPort>(
        std::move(opened),
        [config]() -> std::shared_ptr<link::ByteSource> { return link::openPort(config); });
}

Outcome logPort(const Options& options, link::ReconnectingPort& port, logtool::FrameLogger& logger,
                int out) {
    Progress progress;
    std::string rows;
    std::string error;
    std::array<std::uint8_t, 1024> buffer{};
    const auto start = std::chrono::steady_clock::now();
    std::int64_t lastFlush = record::wallClockMicros();
    double seconds = 0;
    while (!stopRequested && !logger.done()) {
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (options.duration > 0 && seconds >= options.duration) {
            break;
        }
        const link::ReadResult got = port.readAvailable(buffer);
        const std::int64_t now = record::wallClockMicros();
        logger.feed(std::span(buffer).first(got.count), now, rows);
        if (got.deviceLost) {
            logger.deviceLost();
        }
        // Rows reach the file within about a second, whole.
        if (!rows.empty() &&
            (rows.size() >= WriteThreshold || now - lastFlush >= LiveFlushMicros)) {
            if (!writeRows(out, rows, error)) {
                port.close();
                return {1, error};
            }
            lastFlush = now;
        }
        progress.update(logger, seconds);
        if (got.count < buffer.size()) {
            toolkit::pause(ReadPauseMs);
        }
    }
    port.close();
    progress.update(logger, seconds, true);
    progress.end();
    if (!writeRows(out, rows, error)) {
        return {1, error};
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    Options options = parseOptions(argc, argv);

    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    logtool::LoggerOptions loggerOptions;
    loggerOptions.maxFrames = options.frames;
    loggerOptions.measure = options.measure;
    // The source is opened before the output is made, so a wrong name or a port that cannot be
    // had leaves no CSV behind, not even its header.
    std::unique_ptr<record::RecordingReader> reader;
    std::unique_ptr<link::ReconnectingPort> port;
    if (!options.replay.empty()) {
        std::string error;
        reader = record::RecordingReader::open(options.replay, error);
        if (!reader) {
            fail("cannot replay: " + error);
        }
    } else {
        port = openLogPort(options);
    }
    prepareCaptures(options, loggerOptions);
    const int out = openOutput(options, logtool::csvHeader(options.measure));

    logtool::FrameLogger logger(loggerOptions);
    const Outcome outcome =
        reader ? logReplay(options, *reader, logger, out) : logPort(options, *port, logger, out);
    if (out != STDOUT_FILENO && ::close(out) != 0 && outcome.code == 0) {
        fail("cannot write " + options.output + ": " + std::strerror(errno));
    }
    std::fprintf(stderr, "veltrace-log: %llu frames logged, %llu damaged frames left out\n",
                 static_cast<unsigned long long>(logger.rows()),
                 static_cast<unsigned long long>(logger.rejected()));
    if (logger.capturesFailed() > 0) {
        std::fprintf(stderr, "veltrace-log: %llu captures could not be written\n",
                     static_cast<unsigned long long>(logger.capturesFailed()));
    }
    if (outcome.code != 0 && !outcome.error.empty()) {
        std::fprintf(stderr, "veltrace-log: the CSV could not be written: %s\n",
                     outcome.error.c_str());
    }
    if (toolkit::fontHandle(CaptureFont) != 0) {
        toolkit::toolkitEnd();
    }
    // A closed pipe (| head) is the reader's choice, not a failure.
    return outcome.code != 0 && !outcome.error.empty() ? 1 : 0;
}
