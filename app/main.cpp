// The program's entry. Without arguments it is the scope viewer; a few options answer questions
// from the command line without opening a window.
#include "app/app.h"
#include "app/console.h"
#include "app/statistics.h"
#include "link/acquisition.h"
#include "link/serial_port.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const char* const helpHead =
    "Usage: veltrace [option]\n"
    "Shows live what a Kalnor or Merivand handheld oscilloscope streams over a serial line.\n"
    "\n"
    "Options:\n"
    "  --list-ports   list COM1..COM16 with the device each maps to and whether it is\n"
    "                 present, free or busy\n"
    "  --version      print the version\n"
    "  --help         this text\n"
    "Without an option the main window opens.\n"
    "\n"
    "";

const char* const helpTail =
    "\n"
    "Settings: the chosen port is kept in Veltrace.ini in the current directory, section [COM],\n"
    "key COMPort (for example COMPort=COM3); choose it with File / COM-Port... .\n"
    "\n"
    "Environment: VELTRACE_STATS=1 prints how many bytes were decoded and frames drawn at exit,\n"
    "and how soon frames reached the window.\n";

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
    std::printf("%-6s %-36s %s\n", "Port", "Device", "State");
    for (int n = 1; n <= 16; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const std::string path = veltrace::link::comDevicePath(name);
        const std::string variable = "VELTRACE_COM" + std::to_string(n);
        const char* overridden = std::getenv(variable.c_str());
        std::string device = path;
        if (overridden != nullptr && overridden[0] != '\0') {
            device += " (" + variable + ")";
        }
        std::printf("%-6s %-36s %s\n", name.c_str(), device.c_str(),
                    presenceText(veltrace::link::portPresence(path)));
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
    appendText(out, " acquisition cycles\n");
    [[maybe_unused]] const ssize_t written =
        write(STDERR_FILENO, line, static_cast<std::size_t>(out - line));
}

} // namespace

int main(int argc, char** argv) {
    int code = 0;
    if (argc > 1) {
        veltrace::app::useStartingConsole();
        const std::string option = argv[1];
        if (argc > 2) {
            std::fprintf(stderr, "veltrace: takes at most one option (see veltrace --help)\n");
            return 2;
        }
        if (option == "--list-ports") {
            return listPorts();
        }
        if (option == "--version") {
            std::printf("Veltrace V1.11\n");
            return 0;
        }
        if (option == "--help" || option == "-h") {
            std::fputs(helpHead, stdout);
            std::fputs(veltrace::app::portHelpText(), stdout);
            std::fputs(helpTail, stdout);
            return 0;
        }
        std::fprintf(stderr, "veltrace: unknown option '%s' (see veltrace --help)\n",
                     option.c_str());
        return 2;
    }
    if (statisticsWanted()) {
        veltrace::app::latencyStatisticsStart();
    }
    code = veltrace::app::startUp();
    if (statisticsWanted()) {
        printStatistics();
        const std::string latency = veltrace::app::latencyReport();
        std::fputs(latency.c_str(), stderr);
    }
    // The end sequence waits only 100 ms for the acquisition thread, which may still be in the
    // middle of a cycle. Leaving without running static destructors means that thread can never
    // meet a destroyed lock, toolkit table or scope state on its way out.
    std::fflush(nullptr);
    std::_Exit(code);
}
