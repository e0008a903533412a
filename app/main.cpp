// The program's entry. Without arguments it is the scope viewer; --record and --replay run it on
// the stream as data; a few options answer questions from the command line without opening a
// window.
#include "app/app.h"
#include "app/console.h"
#include "app/statistics.h"
#include "link/acquisition.h"
#include "link/port_survey.h"
#include "link/serial_port.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const char* const helpHead =
    "Usage: veltrace [--record FILE [--force] | --replay FILE [--speed X] | --list-ports |\n"
    "                 --version | --help]\n"
    "Shows live what a Kalnor or Merivand handheld oscilloscope streams over a serial line.\n"
    "\n"
    "Options:\n"
    "  --record FILE  run as usual and append every byte read from the port, with its time of\n"
    "                 arrival, to the recording FILE (at most the last second is lost in a crash)\n"
    "  --force        with --record: replace FILE if it exists (otherwise that is an error)\n"
    "  --replay FILE  run on a recording (or a raw dump of the line) instead of the port; the\n"
    "                 last frame stays when it ends; choosing a port in the menu goes live\n"
    "  --speed X      with --replay: X times the recorded pace (default 1), or max\n"
    "  --list-ports   list COM1..COM16 with the device each maps to and whether it is\n"
    "                 present, free or busy; listens half a second on the free ones and marks\n"
    "                 those on which the scope is sending (scope)\n"
    "  --version      print the version\n"
    "  --help         this text\n"
    "Without an option the main window opens on the configured port. A port whose device goes\n"
    "away (a USB adapter pulled out) is opened again about once a second until it is back.\n"
    "\n"
    "";

const char* const helpTail =
    "\n"
    "Settings: the chosen port is kept in Veltrace.ini in the current directory, section [COM],\n"
    "key COMPort (for example COMPort=COM3); choose it with File / COM-Port... .\n"
    "\n"
    "Environment: VELTRACE_STATS=1 prints how many bytes were decoded and frames drawn at exit,\n"
    "and how soon frames reached the window; with VELTRACE_FRAME_TIMES=FILE as well, it writes\n"
    "each frame's hand-over and repaint time (monotonic clock, ns) to FILE.\n"
    "VELTRACE_MEASUREMENTS=1 opens the Measurements window at start.\n"
    "\n"
    "Examples:\n"
    "  veltrace --record session.vtrec\n"
    "  veltrace --replay session.vtrec --speed 4\n"
    "veltrace-log writes every frame of a port or a recording as a row of CSV.\n";

const char* presenceText(veltrace::link::PortPresence presence) {
    switch (presence) {
    case veltrace::link::PortPresence::Missing:
        return "missing";
    case veltrace::link::PortPresence::Free:
        return "free";
    case veltrace::link::PortPresence::Busy:
        return "busy (in use by another program)";
    case veltrace::link::PortPresence::NoAccess:
        return "present, no permission (join the device's group, usually dialout)";
    }
    return "";
}

int listPorts() {
    const std::vector<veltrace::link::PortSurvey> survey = veltrace::link::surveyPorts();
    std::printf("%-6s %-36s %s\n", "Port", "Device", "State");
    for (std::size_t i = 0; i < survey.size(); ++i) {
        const veltrace::link::PortSurvey& port = survey[i];
        const std::string variable = "VELTRACE_COM" + std::to_string(i + 1);
        const char* overridden = std::getenv(variable.c_str());
        std::string device = port.devicePath;
        if (overridden != nullptr && overridden[0] != '\0') {
            device += " (" + variable + ")";
        }
        std::printf("%-6s %-36s %s%s\n", port.portName.c_str(), device.c_str(),
                    presenceText(port.presence), port.scope ? ", scope" : "");
    }
    return 0;
}

struct Options {
    std::string single; // --list-ports, --version or --help
    veltrace::app::StreamOptions stream;
    bool speedGiven = false;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "veltrace: %s (see veltrace --help)\n", message.c_str());
    return 2;
}

// "max", or a positive number of times the recorded pace.
bool parseSpeed(const std::string& text, double& speed) {
    if (text == "max") {
        speed = 0.0;
        return true;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(value) ||
        value <= 0.0) {
        return false;
    }
    speed = value;
    return true;
}

// 0 when the options make sense, else the exit code (after saying what is wrong).
int parseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                return false;
            }
            into = argv[++i];
            return true;
        };
        if (option == "--list-ports" || option == "--version" || option == "--help" ||
            option == "-h") {
            if (argc > 2) {
                return usageError("'" + option + "' takes no other option");
            }
            options.single = option;
        } else if (option == "--record") {
            if (!value(options.stream.recordPath) || options.stream.recordPath.empty()) {
                return usageError("--record needs a file name");
            }
        } else if (option == "--force") {
            options.stream.replaceRecording = true;
        } else if (option == "--replay") {
            if (!value(options.stream.replayPath) || options.stream.replayPath.empty()) {
                return usageError("--replay needs a file name");
            }
        } else if (option == "--speed") {
            std::string text;
            if (!value(text) || !parseSpeed(text, options.stream.replaySpeed)) {
                return usageError("--speed needs a positive number or max");
            }
            options.speedGiven = true;
        } else {
            return usageError("unknown option '" + option + "'");
        }
    }
    const veltrace::app::StreamOptions& stream = options.stream;
    if (!stream.recordPath.empty() && !stream.replayPath.empty()) {
        return usageError("--record and --replay do not go together (the recording is of a port)");
    }
    if (stream.replaceRecording && stream.recordPath.empty()) {
        return usageError("--force goes with --record");
    }
    if (options.speedGiven && stream.replayPath.empty()) {
        return usageError("--speed goes with --replay");
    }
    return 0;
}

bool statisticsWanted() {
    const char* wanted = std::getenv("VELTRACE_STATS");
    return wanted != nullptr && wanted[0] != '\0' && std::strcmp(wanted, "0") != 0;
}

// Built by hand with write(), so the line reaches standard error whole even while the
// acquisition thread may still be ending.
void appendNumber(char*& out, std::uint64_t value) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        *out++ = digits[--count];
    }
}

void appendText(char*& out, const char* text) {
    while (*text != '\0') {
        *out++ = *text++;
    }
}

void printStatistics() {
    const veltrace::link::AcquisitionStats stats = veltrace::link::acquisitionStats();
    char line[256];
    char* out = line;
    appendText(out, "veltrace: ");
    appendNumber(out, stats.framesDrawn);
    appendText(out, " frames drawn, ");
    appendNumber(out, stats.bytesDecoded);
    appendText(out, " bytes decoded, ");
    appendNumber(out, stats.bytesDropped);
    appendText(out, " bytes dropped while held, ");
    appendNumber(out, stats.cycles);
    appendText(out, " acquisition cycles, ");
    appendNumber(out, stats.waitReturns);
    appendText(out, " returns from the port's waits\n");
    [[maybe_unused]] const ssize_t written =
        write(STDERR_FILENO, line, static_cast<std::size_t>(out - line));
}

} // namespace

int main(int argc, char** argv) {
    int code = 0;
    if (argc > 1) {
        veltrace::app::useStartingConsole();
    }
    Options options;
    if (const int error = parseOptions(argc, argv, options); error != 0) {
        return error;
    }
    if (options.single == "--list-ports") {
        return listPorts();
    }
    if (options.single == "--version") {
        std::printf("Veltrace V1.11\n");
        return 0;
    }
    if (!options.single.empty()) {
        std::fputs(helpHead, stdout);
        std::fputs(veltrace::app::portHelpText(), stdout);
        std::fputs(helpTail, stdout);
        return 0;
    }
    veltrace::app::setStreamOptions(options.stream);
    const char* frameTimes = std::getenv("VELTRACE_FRAME_TIMES");
    const bool keepFrameTimes = frameTimes != nullptr && frameTimes[0] != '\0';
    if (statisticsWanted()) {
        if (keepFrameTimes) {
            veltrace::app::latencyKeepFrameTimes();
        }
        veltrace::app::latencyStatisticsStart();
    }
    code = veltrace::app::startUp();
    if (statisticsWanted()) {
        printStatistics();
        const std::string latency = veltrace::app::latencyReport();
        std::fputs(latency.c_str(), stderr);
        if (keepFrameTimes && !veltrace::app::latencyWriteFrameTimes(frameTimes)) {
            std::fprintf(stderr, "veltrace: cannot write the frame times to %s\n", frameTimes);
        }
    }
    // The end sequence waits for the acquisition thread only so long: one stuck in the system
    // may still run. Leaving without running static destructors means that thread can never
    // meet a destroyed lock, toolkit table or scope state on its way out.
    std::fflush(nullptr);
    std::_Exit(code);
}
