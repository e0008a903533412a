// The programs as a user runs them: veltrace-log on a recording and on a port (Ctrl-C, --port
// auto), veltrace-sim serving a recording through the real serial path, veltrace --list-ports
// finding the scope, and the window's stream options refusing what cannot be had before any
// window opens.
#include "link/decoder.h"
#include "link/frame_log.h"
#include "link/pty.h"
#include "link/serial_port.h"
#include "log/frame_logger.h"
#include "record/recording.h"
#include "simframes/frames.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace veltrace {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using testing_support::Pty;
using testing_support::waitUntil;

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        out.push_back(line);
    }
    return out;
}

std::string data(const std::string& name) {
    return std::string(VELTRACE_TEST_DATA) + "/" + name;
}

// A program started with its output in files, in a folder of the test's, with the environment
// of the test plus `extra`.
class Program {
  public:
    // Standard error goes to `errorPath` when one is given (a terminal, say).
    Program(const fs::path& dir, std::vector<std::string> args,
            std::vector<std::pair<std::string, std::string>> extra = {},
            const std::string& errorPath = "")
        : out_(dir / ("out-" + std::to_string(counter) + ".txt")),
          err_(errorPath.empty() ? dir / ("err-" + std::to_string(counter) + ".txt")
                                 : fs::path(errorPath)) {
        ++counter;
        pid_ = fork();
        if (pid_ == 0) {
            chdir(dir.c_str());
            for (const auto& [name, value] : extra) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = errorPath.empty()
                                ? open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                : open(err_.c_str(), O_WRONLY | O_NOCTTY);
            dup2(out, STDOUT_FILENO);
            dup2(err, STDERR_FILENO);
            std::vector<char*> argv;
            for (std::string& arg : args) {
                argv.push_back(arg.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Program() {
        if (pid_ > 0 && !done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // The exit code, or -1 when it did not end in time (it is then killed).
    int wait(int seconds = 60) {
        for (int i = 0; i < seconds * 100; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                done_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            toolkit::pause(10);
        }
        return -1;
    }
    void signal(int number) const { kill(pid_, number); }
    std::string out() const { return readText(out_); }
    std::string err() const { return readText(err_); }

  private:
    static inline int counter = 0;
    fs::path out_;
    fs::path err_;
    pid_t pid_ = -1;
    bool done_ = false;
};

Bytes frame(std::uint8_t timebase, std::uint8_t base) {
    sim::FrameSamplesArray samples{};
    for (int i = 0; i < sim::FrameSamples; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((base + 3 * i) % 120);
    }
    return sim::buildFrame({sim::switchesByte(sim::Coupling::Dc, sim::Range::V10), timebase,
                            sim::triggerByte(sim::Source::IntPlus, false),
                            sim::levelByte(sim::Level::P01)},
                           samples, 0x7C, {1, 2, 3, 0});
}

class Commands : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltrace-commands-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        // Every COM name points at nothing unless a test maps it.
        for (int n = 1; n <= 16; ++n) {
            env.emplace_back("VELTRACE_COM" + std::to_string(n),
                             "/nonexistent/veltrace-commands/com" + std::to_string(n));
        }
        env.emplace_back("TZ", "UTC");
    }
    void TearDown() override {
        stopSending();
        std::error_code error;
        fs::remove_all(dir, error);
    }
    void mapPort(int n, const std::string& path) {
        env[static_cast<std::size_t>(n - 1)].second = path;
    }
    // What veltrace-log's rows should be for a whole recording (TZ=UTC, as the children have).
    static std::string expectedCsv(const std::string& file, double seconds = 0) {
        const char* tz = std::getenv("TZ");
        const std::string saved = tz != nullptr ? tz : "";
        setenv("TZ", "UTC", 1);
        tzset();
        std::string error;
        auto reader = record::RecordingReader::open(file, error);
        logtool::FrameLogger logger({});
        std::string csv = link::csvHeader();
        record::Chunk chunk;
        while (reader && reader->next(chunk)) {
            if (seconds > 0 && chunk.timeMicros > seconds * 1e6) {
                break;
            }
            if (chunk.deviceLost) {
                logger.deviceLost();
            }
            logger.feed(chunk.bytes, reader->startMicros() + chunk.timeMicros, csv);
        }
        if (tz != nullptr) {
            setenv("TZ", saved.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
        return csv;
    }
    // Before the pseudo-terminal it writes to is closed.
    void stopSending() {
        stop = true;
        if (sender.joinable()) {
            sender.join();
        }
    }
    void sendEvery20Ms(int master, Bytes bytes) {
        sender = std::thread([this, master, bytes] {
            while (!stop) {
                [[maybe_unused]] const ssize_t n = write(master, bytes.data(), bytes.size());
                toolkit::pause(20);
            }
        });
    }

    fs::path dir;
    std::vector<std::pair<std::string, std::string>> env;
    std::atomic<bool> stop{false};
    std::thread sender;
};

// ---- veltrace-log on recordings ---------------------------------------------------------------

TEST_F(Commands, LogOfARecordingHasOneRowPerWholeFrameWithTheRecordedTimes) {
    Program log(dir, {VELTRACE_LOG_PATH, "--replay", data("corrupted.vtrec"), "--output", "a.csv"},
                env);
    ASSERT_EQ(log.wait(), 0) << log.err();
    EXPECT_EQ(readText(dir / "a.csv"), expectedCsv(data("corrupted.vtrec")));
    EXPECT_EQ(lines(readText(dir / "a.csv")).size(), 1u + 31u);
    EXPECT_NE(log.err().find("31 frames logged, 1 damaged frames left out"), std::string::npos)
        << log.err();

    // To standard output, with the limits.
    Program five(dir, {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--frames", "5"}, env);
    ASSERT_EQ(five.wait(), 0) << five.err();
    const std::vector<std::string> all = lines(expectedCsv(data("clean.vtrec")));
    EXPECT_EQ(lines(five.out()), std::vector<std::string>(all.begin(), all.begin() + 6));
    Program second(dir, {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--duration", "1"},
                   env);
    ASSERT_EQ(second.wait(), 0) << second.err();
    EXPECT_EQ(second.out(), expectedCsv(data("clean.vtrec"), 1.0));
    EXPECT_LT(lines(second.out()).size(), all.size());
}

TEST_F(Commands, LogNeverOverwritesUnlessForcedAndRefusesBeforeWritingAnything) {
    std::ofstream(dir / "kept.csv") << "precious\n";
    Program refused(
        dir, {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--output", "kept.csv"}, env);
    EXPECT_EQ(refused.wait(), 1);
    EXPECT_NE(refused.err().find("already exists"), std::string::npos) << refused.err();
    EXPECT_EQ(readText(dir / "kept.csv"), "precious\n");

    Program missing(dir, {VELTRACE_LOG_PATH, "--replay", "nothing.vtrec", "--output", "new.csv"},
                    env);
    EXPECT_EQ(missing.wait(), 1);
    EXPECT_FALSE(fs::exists(dir / "new.csv"));

    Program forced(
        dir,
        {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--output", "kept.csv", "--force"},
        env);
    ASSERT_EQ(forced.wait(), 0) << forced.err();
    EXPECT_EQ(readText(dir / "kept.csv"), expectedCsv(data("clean.vtrec")));

    Program usage(dir, {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--port", "COM1"}, env);
    EXPECT_EQ(usage.wait(), 2);
}

TEST_F(Commands, LogWritesNothingForAPortItRefuses) {
    // A name that is no port, and a port that cannot be opened: not even the header.
    Program unknown(dir, {VELTRACE_LOG_PATH, "--port", "COM99"}, env);
    EXPECT_EQ(unknown.wait(), 2);
    EXPECT_EQ(unknown.out(), "");
    EXPECT_NE(unknown.err().find("COM99"), std::string::npos) << unknown.err();
    Program missing(dir, {VELTRACE_LOG_PATH, "--port", "COM3"}, env);
    EXPECT_EQ(missing.wait(), 1);
    EXPECT_EQ(missing.out(), "");
    EXPECT_NE(missing.err().find("cannot open COM3"), std::string::npos) << missing.err();
    Program toFile(dir, {VELTRACE_LOG_PATH, "--port", "COM3", "--output", "never.csv"}, env);
    EXPECT_EQ(toFile.wait(), 1);
    EXPECT_FALSE(fs::exists(dir / "never.csv"));
}

TEST_F(Commands, LogMeasureAddsTheMeasurementColumnsToEveryRow) {
    Program log(dir, {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--measure"}, env);
    ASSERT_EQ(log.wait(), 0) << log.err();
    const std::vector<std::string> rows = lines(log.out());
    const std::vector<std::string> plain = lines(expectedCsv(data("clean.vtrec")));
    ASSERT_EQ(rows.size(), plain.size());
    EXPECT_EQ(rows[0], plain[0] + "," + std::string(logtool::MeasureColumns));
    for (std::size_t r = 1; r < rows.size(); ++r) {
        EXPECT_EQ(rows[r].substr(0, plain[r].size() + 1), plain[r] + ",") << r;
        EXPECT_EQ(std::count(rows[r].begin(), rows[r].end(), ','),
                  std::count(rows[0].begin(), rows[0].end(), ','))
            << r;
    }
}

TEST_F(Commands, LogMeasuresTheDutyCycleTheSimulatorWasGiven) {
    // From the simulator's square of a quarter duty, through a pseudo-terminal and the serial
    // path, to the log's measurement columns.
    const fs::path link = dir / "scope";
    Program sim(dir,
                {VELTRACE_SIM_PATH, "--link", link.string(), "--rate", "20000", "--wave", "square",
                 "--duty", "25", "--freq", "2000", "--timebase", "5", "--range", "1"},
                env);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(link); }));
    mapPort(9, link.string());
    Program log(dir, {VELTRACE_LOG_PATH, "--port", "COM9", "--frames", "3", "--measure"}, env);
    ASSERT_EQ(log.wait(), 0) << log.err();
    const std::vector<std::string> rows = lines(log.out());
    ASSERT_EQ(rows.size(), 4u) << log.out();
    const auto fields = [](const std::string& row) {
        std::vector<std::string> out;
        std::istringstream in(row + ",");
        std::string field;
        while (std::getline(in, field, ',')) {
            out.push_back(field);
        }
        return out;
    };
    const std::vector<std::string> names = fields(rows[0]);
    const auto duty = std::find(names.begin(), names.end(), "duty_percent") - names.begin();
    const auto freq = std::find(names.begin(), names.end(), "frequency_hz") - names.begin();
    ASSERT_LT(static_cast<std::size_t>(duty), names.size());
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::vector<std::string> row = fields(rows[r]);
        ASSERT_EQ(row.size(), names.size()) << rows[r];
        EXPECT_NEAR(std::stod(row[static_cast<std::size_t>(duty)]), 25.0, 2.0) << rows[r];
        EXPECT_NEAR(std::stod(row[static_cast<std::size_t>(freq)]), 2000.0, 30.0) << rows[r];
    }
}

TEST_F(Commands, LogCapturesEveryNthFrameWithoutADisplay) {
    auto noDisplay = env;
    noDisplay.emplace_back("DISPLAY", "");
    noDisplay.emplace_back("WAYLAND_DISPLAY", "");
    noDisplay.emplace_back("QT_QPA_PLATFORM", "");
    noDisplay.emplace_back("XDG_RUNTIME_DIR", "");
    Program log(dir,
                {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--captures", "pics",
                 "--every", "5", "--output", "c.csv"},
                noDisplay);
    ASSERT_EQ(log.wait(), 0) << log.err();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir / "pics")) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"frame-000005.png", "frame-000010.png",
                                               "frame-000015.png", "frame-000020.png"}));
    // Nothing but its own summary on standard error: no complaint of the window system.
    EXPECT_EQ(lines(log.err()).size(), 1u) << log.err();
}

TEST_F(Commands, LogShowsItsProgressOnlyOnATerminal) {
    Pty terminal;
    Program log(dir, {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--output", "p.csv"}, env,
                terminal.slavePath);
    ASSERT_EQ(log.wait(), 0);
    std::string shown;
    std::array<char, 4096> buffer{};
    fcntl(terminal.master, F_SETFL, O_NONBLOCK);
    for (ssize_t n; (n = read(terminal.master, buffer.data(), buffer.size())) > 0;) {
        shown.append(buffer.data(), static_cast<std::size_t>(n));
    }
    EXPECT_NE(shown.find("\rveltrace-log: 24 frames, 0 damaged"), std::string::npos) << shown;
    EXPECT_NE(shown.find("24 frames logged"), std::string::npos) << shown;

    // Into a file: the summary alone.
    Program quiet(dir, {VELTRACE_LOG_PATH, "--replay", data("clean.vtrec"), "--output", "q.csv"},
                  env);
    ASSERT_EQ(quiet.wait(), 0);
    EXPECT_EQ(quiet.err().find('\r'), std::string::npos);
}

// ---- veltrace-log on a port -------------------------------------------------------------------

TEST_F(Commands, LogStopsCleanlyOnCtrlCWithEveryRowComplete) {
    Pty pty;
    mapPort(3, pty.slavePath);
    Program log(dir, {VELTRACE_LOG_PATH, "--port", "COM3", "--output", "live.csv"}, env);
    // Opened once the far side sees a reader.
    ASSERT_TRUE(
        waitUntil([&] { return link::portPresence(pty.slavePath) == link::PortPresence::Busy; }));
    for (int f = 0; f < 8; ++f) {
        pty.send(frame(static_cast<std::uint8_t>(f), static_cast<std::uint8_t>(10 * f)));
        toolkit::pause(30);
    }
    const Bytes partial = frame(9, 99);
    pty.send(Bytes(partial.begin(), partial.begin() + 70));
    ASSERT_TRUE(waitUntil([&] { return lines(readText(dir / "live.csv")).size() == 9; }));
    log.signal(SIGINT);
    ASSERT_EQ(log.wait(), 0) << log.err();
    const std::string csv = readText(dir / "live.csv");
    ASSERT_EQ(csv.back(), '\n');
    const std::vector<std::string> rows = lines(csv);
    ASSERT_EQ(rows.size(), 9u);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        EXPECT_EQ(std::count(rows[r].begin(), rows[r].end(), ','), 9 + 129 - 1) << r;
        EXPECT_EQ(rows[r].substr(24, 2), std::to_string(r) + ",") << rows[r].substr(0, 40);
    }
    // The port was let go.
    EXPECT_EQ(link::portPresence(pty.slavePath), link::PortPresence::Free);
}

TEST_F(Commands, LogFindsTheScopeWithPortAuto) {
    Pty silent, scope;
    mapPort(4, silent.slavePath);
    mapPort(6, scope.slavePath);
    sendEvery20Ms(scope.master, frame(6, 0));
    Program log(dir, {VELTRACE_LOG_PATH, "--port", "auto", "--frames", "3"}, env);
    const int code = log.wait();
    stopSending();
    ASSERT_EQ(code, 0) << log.err();
    EXPECT_NE(log.err().find("the scope is on COM6"), std::string::npos) << log.err();
    EXPECT_EQ(lines(log.out()).size(), 4u);

    // Without a scope on any port.
    Pty quiet;
    mapPort(6, quiet.slavePath);
    Program none(dir, {VELTRACE_LOG_PATH, "--port", "auto"}, env);
    EXPECT_EQ(none.wait(), 1);
    EXPECT_NE(none.err().find("no port"), std::string::npos) << none.err();
}

// ---- veltrace-sim and veltrace ----------------------------------------------------------------

TEST_F(Commands, SimulatorServesARecordingThroughTheSerialPath) {
    const fs::path link = dir / "scope";
    Program sim(dir,
                {VELTRACE_SIM_PATH, "--replay", data("settings.vtrec"), "--fast", "--link",
                 link.string(), "--linger", "5"},
                env);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(link); }));
    setenv("VELTRACE_COM1", link.c_str(), 1);
    link::PortConfig config;
    config.portName = "COM1";
    std::shared_ptr<link::SerialPort> port = link::openPort(config);
    unsetenv("VELTRACE_COM1");
    ASSERT_TRUE(port);
    Bytes received;
    std::array<std::uint8_t, 1024> buffer{};
    std::string error;
    auto reader = record::RecordingReader::open(data("settings.vtrec"), error);
    ASSERT_TRUE(reader);
    Bytes recorded;
    record::Chunk chunk;
    while (reader->next(chunk)) {
        recorded.insert(recorded.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    ASSERT_TRUE(waitUntil([&] {
        const link::ReadResult got = port->readAvailable(buffer);
        received.insert(received.end(), buffer.begin(),
                        buffer.begin() + static_cast<long>(got.count));
        return received.size() >= recorded.size();
    }));
    EXPECT_EQ(received, recorded);
    port->close();
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
}

TEST_F(Commands, SimulatorStampsEachFramesLastByteOnTheMonotonicClock) {
    const fs::path link = dir / "scope";
    const fs::path times = dir / "frame-times.txt";
    timespec started{};
    clock_gettime(CLOCK_MONOTONIC, &started);
    Program sim(dir,
                {VELTRACE_SIM_PATH, "--fast", "--frames", "7", "--link", link.string(), "--linger",
                 "5", "--frame-times", times.string()},
                env);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(link); }));
    setenv("VELTRACE_COM1", link.c_str(), 1);
    link::PortConfig config;
    config.portName = "COM1";
    std::shared_ptr<link::SerialPort> port = link::openPort(config);
    unsetenv("VELTRACE_COM1");
    ASSERT_TRUE(port);
    std::size_t received = 0;
    std::array<std::uint8_t, 1024> buffer{};
    ASSERT_TRUE(waitUntil([&] {
        received += port->readAvailable(buffer).count;
        return received >= 7 * 138;
    }));
    port->close();
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
    timespec ended{};
    clock_gettime(CLOCK_MONOTONIC, &ended);
    const auto ns = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };

    // One stamp a frame, in order, all within the run on this process's monotonic clock.
    const std::vector<std::string> stamps = lines(readText(times));
    ASSERT_EQ(stamps.size(), 7u) << readText(times);
    long long previous = ns(started);
    for (const std::string& stamp : stamps) {
        const long long at = std::stoll(stamp);
        EXPECT_GE(at, previous);
        previous = at;
    }
    EXPECT_LE(previous, ns(ended));

    // It cannot tell where frames end in a recording or a corrupted stream, and says so.
    Program refused(dir, {VELTRACE_SIM_PATH, "--corrupt", "0.1", "--frame-times", times.string()},
                    env);
    EXPECT_NE(refused.wait(), 0);
}

TEST_F(Commands, SimulatorStampsOnTheRawMonotonicClockWhenAsked) {
    const fs::path link = dir / "scope";
    const fs::path times = dir / "frame-times-raw.txt";
    const auto ns = [](clockid_t clock) {
        timespec t{};
        clock_gettime(clock, &t);
        return t.tv_sec * 1000000000LL + t.tv_nsec;
    };
    // The two clocks part by the time the system's clock was slewed since it started; the
    // stamps must fall in this run on the raw clock. (Were they on the other, they would miss
    // it whenever the two clocks stand further apart than the run lasts.)
    const long long rawStarted = ns(CLOCK_MONOTONIC_RAW);
    const long long monoStarted = ns(CLOCK_MONOTONIC);
    Program sim(dir,
                {VELTRACE_SIM_PATH, "--fast", "--frames", "4", "--link", link.string(), "--linger",
                 "5", "--frame-times", times.string(), "--frame-clock", "raw"},
                env);
    ASSERT_TRUE(waitUntil([&] { return fs::exists(link); }));
    setenv("VELTRACE_COM1", link.c_str(), 1);
    link::PortConfig config;
    config.portName = "COM1";
    std::shared_ptr<link::SerialPort> port = link::openPort(config);
    unsetenv("VELTRACE_COM1");
    ASSERT_TRUE(port);
    std::size_t received = 0;
    std::array<std::uint8_t, 1024> buffer{};
    ASSERT_TRUE(waitUntil([&] {
        received += port->readAvailable(buffer).count;
        return received >= 4 * 138;
    }));
    port->close();
    sim.signal(SIGTERM);
    EXPECT_EQ(sim.wait(), 0);
    const long long rawEnded = ns(CLOCK_MONOTONIC_RAW);
    const long long monoEnded = ns(CLOCK_MONOTONIC);

    const std::vector<std::string> stamps = lines(readText(times));
    ASSERT_EQ(stamps.size(), 4u) << readText(times);
    for (const std::string& stamp : stamps) {
        const long long at = std::stoll(stamp);
        EXPECT_GE(at, rawStarted);
        EXPECT_LE(at, rawEnded);
    }
    if (std::llabs(monoStarted - rawStarted) <= monoEnded - monoStarted) {
        std::fprintf(stderr, "note: the two clocks stand closer than the run lasted; this run "
                             "could not tell them apart\n");
    }

    // A clock it does not know is refused before anything is sent.
    Program refused(dir, {VELTRACE_SIM_PATH, "--frame-clock", "realtime"}, env);
    EXPECT_NE(refused.wait(), 0);
}

TEST_F(Commands, ListPortsMarksThePortTheScopeSendsOn) {
    Pty silent, scope;
    mapPort(2, silent.slavePath);
    mapPort(5, scope.slavePath);
    sendEvery20Ms(scope.master, frame(3, 7));
    Program list(dir, {VELTRACE_PATH, "--list-ports"}, env);
    const int code = list.wait();
    stopSending();
    ASSERT_EQ(code, 0) << list.err();
    const std::vector<std::string> rows = lines(list.out());
    ASSERT_EQ(rows.size(), 17u) << list.out();
    EXPECT_EQ(rows[2].substr(0, 5), "COM2 ");
    EXPECT_NE(rows[2].find("free"), std::string::npos);
    EXPECT_EQ(rows[2].find("scope"), std::string::npos);
    EXPECT_NE(rows[5].find("free, scope"), std::string::npos) << rows[5];
}

TEST_F(Commands, TheWindowRefusesARecordingOrReplayItCannotHaveBeforeOpening) {
    auto offscreen = env;
    offscreen.emplace_back("QT_QPA_PLATFORM", "offscreen");
    std::ofstream(dir / "taken.vtrec") << "an earlier session";
    Program taken(dir, {VELTRACE_PATH, "--record", "taken.vtrec"}, offscreen);
    EXPECT_EQ(taken.wait(), 1);
    EXPECT_NE(taken.err().find("already exists"), std::string::npos) << taken.err();
    EXPECT_EQ(readText(dir / "taken.vtrec"), "an earlier session");

    Program folder(dir, {VELTRACE_PATH, "--record", "no/such/folder.vtrec"}, offscreen);
    EXPECT_EQ(folder.wait(), 1);
    EXPECT_NE(folder.err().find("cannot record"), std::string::npos) << folder.err();

    Program missing(dir, {VELTRACE_PATH, "--replay", "missing.vtrec"}, offscreen);
    EXPECT_EQ(missing.wait(), 1);
    EXPECT_NE(missing.err().find("cannot replay"), std::string::npos) << missing.err();

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{VELTRACE_PATH, "--speed", "2"},
          std::vector<std::string>{VELTRACE_PATH, "--replay", "a", "--speed", "0"},
          std::vector<std::string>{VELTRACE_PATH, "--replay", "a", "--record", "b"},
          std::vector<std::string>{VELTRACE_PATH, "--force"},
          std::vector<std::string>{VELTRACE_PATH, "--list-ports", "--record", "b"}}) {
        Program usage(dir, args, offscreen);
        EXPECT_EQ(usage.wait(), 2) << args[1];
    }
    EXPECT_FALSE(fs::exists(dir / "b"));
}

} // namespace
} // namespace veltrace
