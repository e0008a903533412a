// The real program as a process: how it ends when no window system can be reached, and when the
// system asks it to end with a signal.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef VELTRACE_PROGRAM
#error "VELTRACE_PROGRAM names the veltrace executable under test"
#endif

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Outcome {
    bool exited = false;  // ended by itself (not by a signal)
    int status = -1;      // its exit status
    int signal = 0;       // the signal that ended it, if any
    bool hung = false;    // did not end within the bound and was killed
    std::string errors;   // what it wrote to standard error
    double seconds = 0.0; // from the signal (or the start) to its end
};

// The test's own environment with some variables set (value) or removed (empty value).
std::vector<std::string> environmentWith(const std::map<std::string, std::string>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        if (changes.count(name) == 0) {
            result.push_back(text);
        }
    }
    for (const auto& [name, value] : changes) {
        if (!value.empty()) {
            result.push_back(name + "=" + value);
        }
    }
    return result;
}

// True once the process catches `signal` (its handlers are installed).
bool catches(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
            return (mask >> (signal - 1)) & 1u;
        }
    }
    return false;
}

// Starts the program in `folder` with that environment; with `sendSignal`, sends it once the
// program catches it and `settle` has passed. Waits at most 20 s for the end (a bound that only
// catches a hang).
Outcome run(const fs::path& folder, const std::map<std::string, std::string>& changes,
            int sendSignal = 0, std::chrono::milliseconds settle = std::chrono::milliseconds(0)) {
    Outcome outcome;
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) {
        return outcome;
    }
    std::vector<std::string> environment = environmentWith(changes);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(errorPipe[1], STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_WRONLY);
        ::dup2(devNull, STDOUT_FILENO);
        if (::chdir(folder.c_str()) != 0) {
            ::_exit(127);
        }
        char* argv[] = {const_cast<char*>(VELTRACE_PROGRAM), nullptr};
        ::execve(VELTRACE_PROGRAM, argv, envp.data());
        ::_exit(127);
    }
    ::close(errorPipe[1]);
    auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(20);
    if (sendSignal != 0) {
        while (!catches(pid, sendSignal) && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::this_thread::sleep_for(settle);
        start = Clock::now();
        ::kill(pid, sendSignal);
    }
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            outcome.hung = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    char buffer[4096];
    ssize_t got = 0;
    while ((got = ::read(errorPipe[0], buffer, sizeof buffer)) > 0) {
        outcome.errors.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(errorPipe[0]);
    outcome.exited = WIFEXITED(status);
    outcome.status = outcome.exited ? WEXITSTATUS(status) : -1;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return outcome;
}

std::size_t lines(const std::string& text) {
    std::size_t count = 0;
    for (char c : text) {
        count += c == '\n' ? 1 : 0;
    }
    return count;
}

class ProgramProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "veltrace-process-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    fs::path folder;
};

// ---- No window system ------------------------------------------------------------------------

TEST_F(ProgramProcess, UnreachableWindowSystemsEndWithOneLineAndAFailureStatus) {
    const std::vector<std::map<std::string, std::string>> cases = {
        {{"QT_QPA_PLATFORM", ""}, {"WAYLAND_DISPLAY", ""}, {"DISPLAY", ":239"}},
        {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", "veltrace-no-compositor"}},
        {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", "veltrace-no-compositor"}},
        {{"QT_QPA_PLATFORM", "veltrace-no-such-platform"}},
        {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
    };
    const std::vector<std::string> named = {":239", "veltrace-no-compositor",
                                            "veltrace-no-compositor", "veltrace-no-such-platform",
                                            "DISPLAY"};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Outcome outcome = run(folder, cases[i]);
        EXPECT_TRUE(outcome.exited) << "case " << i << ": ended by signal " << outcome.signal;
        EXPECT_EQ(outcome.status, 1) << "case " << i;
        EXPECT_EQ(lines(outcome.errors), 1u) << "case " << i << ": " << outcome.errors;
        EXPECT_EQ(outcome.errors.rfind("veltrace: ", 0), 0u) << outcome.errors;
        EXPECT_NE(outcome.errors.find(named[i]), std::string::npos) << outcome.errors;
    }
}

// ---- Signals -----------------------------------------------------------------------------------

// Ended by the system, the program runs its end sequence as Quit does: status 0, and the
// statistics report that only the normal end prints.
TEST_F(ProgramProcess, TerminateInterruptAndHangUpEndLikeQuit) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        const Outcome outcome =
            run(folder, {{"QT_QPA_PLATFORM", "offscreen"}, {"VELTRACE_STATS", "1"}}, signal,
                std::chrono::milliseconds(300));
        EXPECT_FALSE(outcome.hung) << strsignal(signal);
        EXPECT_TRUE(outcome.exited) << strsignal(signal) << ": ended by signal " << outcome.signal;
        EXPECT_EQ(outcome.status, 0) << strsignal(signal);
        EXPECT_NE(outcome.errors.find("frames drawn"), std::string::npos)
            << strsignal(signal) << ": " << outcome.errors;
        std::printf("%s: ended %.0f ms after the signal\n", strsignal(signal),
                    outcome.seconds * 1000.0);
    }
}

// A configured port that cannot be opened shows a message box at start; a request to end closes
// it instead of waiting for a user who may not be there.
TEST_F(ProgramProcess, TerminateClosesAnOpenMessageBoxAndEnds) {
    std::ofstream(folder / "Veltrace.ini") << "[COM]\nCOMPort=COM7\n";
    const Outcome outcome = run(
        folder,
        {{"QT_QPA_PLATFORM", "offscreen"}, {"VELTRACE_COM7", (folder / "no-such-device").string()}},
        SIGTERM, std::chrono::milliseconds(800));
    EXPECT_FALSE(outcome.hung);
    EXPECT_TRUE(outcome.exited) << "ended by signal " << outcome.signal;
    EXPECT_EQ(outcome.status, 0);
}

} // namespace
