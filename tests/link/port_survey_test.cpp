// Finding the scope: the survey marks the free port on which whole frames arrive, not a silent
// one nor one that sends only damaged frames, and never opens a port another program holds.
#include "link/port_survey.h"
#include "link/pty.h"
#include "link/serial_port.h"
#include "simframes/frames.h"
#include "toolkit/toolkit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <vector>

namespace veltrace::link {
namespace {

using testing_support::Pty;
using Bytes = std::vector<std::uint8_t>;

Bytes frame(std::uint8_t timebase) {
    sim::FrameSamplesArray samples{};
    samples.fill(40);
    return sim::buildFrame({sim::switchesByte(sim::Coupling::Ac, sim::Range::V1), timebase,
                            sim::triggerByte(sim::Source::Auto, false), 0},
                           samples);
}

class PortSurveyThreaded : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int n = 1; n <= 16; ++n) {
            setenv(("VELTRACE_COM" + std::to_string(n)).c_str(),
                   ("/nonexistent/veltrace-survey/com" + std::to_string(n)).c_str(), 1);
        }
    }
    void TearDown() override {
        stopSending();
        for (int n = 1; n <= 16; ++n) {
            unsetenv(("VELTRACE_COM" + std::to_string(n)).c_str());
        }
    }
    static void mapPort(int n, const std::string& path) {
        setenv(("VELTRACE_COM" + std::to_string(n)).c_str(), path.c_str(), 1);
    }
    // Sends a frame every 20 ms to each (master, bytes) pair, as scopes at twice their pace.
    void sendWhileSurveying(std::vector<std::pair<int, Bytes>> streams) {
        sender = std::thread([this, streams] {
            while (!stop) {
                for (const auto& [master, bytes] : streams) {
                    [[maybe_unused]] const ssize_t n = write(master, bytes.data(), bytes.size());
                }
                toolkit::pause(20);
            }
        });
    }

    // Before the pseudo-terminals it writes to are closed.
    void stopSending() {
        stop = true;
        if (sender.joinable()) {
            sender.join();
        }
    }

    std::atomic<bool> stop{false};
    std::thread sender;
};

TEST_F(PortSurveyThreaded, MarksOnlyTheFreePortWithWholeFramesAndLeavesHeldPortsAlone) {
    Pty scope, silent, damaged, held;
    mapPort(2, scope.slavePath);
    mapPort(5, silent.slavePath);
    mapPort(7, held.slavePath);
    mapPort(9, damaged.slavePath);

    // COM7 is held by another program that asked for exclusive use.
    const int holder = open(held.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    termios raw{};
    ASSERT_EQ(tcgetattr(holder, &raw), 0);
    cfmakeraw(&raw);
    ASSERT_EQ(tcsetattr(holder, TCSANOW, &raw), 0);
    held.send(frame(4));
    int waitingBefore = 0;
    // The pseudo-terminal hands the bytes over to the reader's side a moment later.
    ASSERT_TRUE(testing_support::waitUntil([&] {
        return ioctl(holder, FIONREAD, &waitingBefore) == 0 && waitingBefore == sim::FrameBytes;
    }));

    sendWhileSurveying({{scope.master, frame(6)}, {damaged.master, frame(12)}});
    const std::vector<PortSurvey> survey = surveyPorts(500);
    stopSending();

    ASSERT_EQ(survey.size(), 16u);
    EXPECT_EQ(survey[1].portName, "COM2");
    EXPECT_EQ(survey[1].presence, PortPresence::Free);
    EXPECT_TRUE(survey[1].scope);
    EXPECT_EQ(survey[4].presence, PortPresence::Free);
    EXPECT_FALSE(survey[4].scope) << "silent";
    EXPECT_EQ(survey[8].presence, PortPresence::Free);
    EXPECT_FALSE(survey[8].scope) << "only frames with a timebase code of 12";
    EXPECT_EQ(survey[6].presence, PortPresence::Busy);
    EXPECT_FALSE(survey[6].scope);
    for (int n : {1, 3, 4, 6, 8, 10, 11, 12, 13, 14, 15, 16}) {
        EXPECT_EQ(survey[static_cast<std::size_t>(n - 1)].presence, PortPresence::Missing) << n;
    }
    EXPECT_EQ(firstScopePort(survey), "COM2");

    // Nobody read from the held port: its bytes still wait for their owner, and the exclusive
    // mode it asked for is still set.
    int waitingAfter = 0;
    ASSERT_EQ(ioctl(holder, FIONREAD, &waitingAfter), 0);
    EXPECT_EQ(waitingAfter, waitingBefore);
    EXPECT_GT(waitingAfter, 0);
    int exclusive = 0;
    ASSERT_EQ(ioctl(holder, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    close(holder);

    // The surveyed ports were let go: the scope's port opens at once.
    PortConfig config;
    config.portName = "COM2";
    EXPECT_TRUE(openPort(config));
}

TEST_F(PortSurveyThreaded, NoScopeAnywhereLeavesNoPortMarked) {
    Pty silent;
    mapPort(3, silent.slavePath);
    const std::vector<PortSurvey> survey = surveyPorts(100);
    EXPECT_EQ(survey[2].presence, PortPresence::Free);
    EXPECT_EQ(firstScopePort(survey), "");
}

} // namespace
} // namespace veltrace::link
