// The plan is played against lines made up here, in their own time: each line is a list of
// pieces (when each arrives and the count it brings), and a reader that waits frame by frame
// as the acquisition thread does. What counts is what the reader would pay: wake-ups per frame,
// and how long after the piece that completed a frame the reader took it.
#include "link/arrival_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace veltrace::link {
namespace {

constexpr double CharacterMicros = 1e6 / (19200.0 / 9.0); // 7N1 at 19200 baud
constexpr std::uint64_t FrameBytes = 138;

struct Piece {
    std::int64_t at;
    std::uint64_t count; // bytes since the line began, this piece's included
};

using Line = std::vector<Piece>;

// Like the simulator and a USB adapter: every `pieceMicros` (plus a random delay up to
// `jitterMicros` that adds up, as a relative sleep's does, and once in `lateEvery` pieces a
// delay of a further `lateMicros`, as a sleeper that is woken late), all the bytes due at
// `bytesPerSecond`.
Line pacedLine(double bytesPerSecond, double pieceMicros, double jitterMicros, double seconds,
               unsigned seed, int lateEvery = 0, double lateMicros = 0) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> jitter(0, jitterMicros);
    std::uniform_int_distribution<int> late(1, std::max(lateEvery, 1));
    Line line;
    double t = 0;
    std::uint64_t previous = 0;
    while (t < seconds * 1e6) {
        t += pieceMicros + jitter(random) + (lateEvery > 0 && late(random) == 1 ? lateMicros : 0);
        const auto count = static_cast<std::uint64_t>(t * bytesPerSecond / 1e6);
        if (count > previous) {
            line.push_back({std::llround(t), count});
            previous = count;
        }
    }
    return line;
}

// A line whose bytes arrive one by one, each as the UART completes it.
Line byteLine(double seconds) {
    Line line;
    for (std::uint64_t n = 1; n * CharacterMicros < seconds * 1e6; ++n) {
        line.push_back({std::llround(n * CharacterMicros), n});
    }
    return line;
}

// A device or driver that holds frames back and passes on several at once.
Line burstLine(int framesPerBurst, double seconds) {
    Line line;
    const double burstMicros = framesPerBurst * FrameBytes * CharacterMicros;
    for (std::uint64_t n = 1; n * burstMicros < seconds * 1e6; ++n) {
        line.push_back({std::llround(n * burstMicros), n * framesPerBurst * FrameBytes});
    }
    return line;
}

struct Outcome {
    int frames = 0;
    int wakeUps = 0;
    std::vector<double> delays; // from the completing piece to the reader taking the frame
    double wakeUpsPerFrame() const { return frames > 0 ? double(wakeUps) / frames : 0; }
    double delayQuantile(double q) const {
        std::vector<double> sorted = delays;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0
                              : sorted[std::min(sorted.size() - 1, std::size_t(q * sorted.size()))];
    }
};

// Reads `line` frame by frame as the port's wait does: a sleep until the plan's look, then, if
// the frame is incomplete, a watch that wakes at every piece. The first `warmUp` frames, while
// the plan learns, are not counted.
Outcome readThrough(const Line& line, ArrivalPlan& plan, int warmUp = 20) {
    Outcome outcome;
    const auto countAt = [&](std::int64_t t) -> std::uint64_t {
        const auto after = std::upper_bound(
            line.begin(), line.end(), t, [](std::int64_t v, const Piece& p) { return v < p.at; });
        return after == line.begin() ? 0 : std::prev(after)->count;
    };
    const auto completing = [&](std::uint64_t target) {
        return std::lower_bound(line.begin(), line.end(), target,
                                [](const Piece& p, std::uint64_t v) { return p.count < v; });
    };
    std::int64_t now = 0;
    for (int frame = 0;; ++frame) {
        const std::uint64_t target = (frame + 1) * FrameBytes;
        const auto piece = completing(target);
        if (piece == line.end()) {
            break;
        }
        int wakeUps = 0;
        double delay = 0;
        const std::uint64_t have = countAt(now);
        if (have < target) {
            const std::int64_t look = plan.lookAt(now, have, target);
            EXPECT_GE(look, now);
            now = look;
            ++wakeUps;
            const std::uint64_t found = countAt(now);
            plan.looked(found >= target, found);
            if (found >= target) {
                delay = static_cast<double>(now - piece->at);
            } else {
                // The watch: every piece wakes the reader, which tells the plan.
                auto next =
                    std::upper_bound(line.begin(), line.end(), now,
                                     [](std::int64_t v, const Piece& p) { return v < p.at; });
                bool following = false;
                for (; next != line.end(); ++next) {
                    now = next->at;
                    ++wakeUps;
                    plan.pieceArrived(next->at, next->count, following);
                    following = true;
                    if (next->count >= target) {
                        break;
                    }
                }
            }
        } else {
            delay = static_cast<double>(std::max<std::int64_t>(0, now - piece->at));
        }
        if (frame >= warmUp) {
            ++outcome.frames;
            outcome.wakeUps += wakeUps;
            outcome.delays.push_back(delay);
        }
    }
    if (std::getenv("PLAN_REPORT")) {
        std::printf(
            "frames %d wake-ups/frame %.3f delay median %.0f p99 %.0f max %.0f period %.1f\n",
            outcome.frames, outcome.wakeUpsPerFrame(), outcome.delayQuantile(0.5),
            outcome.delayQuantile(0.99), outcome.delayQuantile(1.0), plan.piecePeriodMicros());
    }
    return outcome;
}

ArrivalPlan linePlan() {
    ArrivalPlan plan;
    plan.setCharacterTime(CharacterMicros);
    return plan;
}

TEST(ArrivalPlan, TenMillisecondPiecesAreReadWithAboutOneWakeUpAFrameAndLittleDelay) {
    for (const double jitter : {0.0, 100.0, 400.0}) {
        SCOPED_TRACE(jitter);
        ArrivalPlan plan = linePlan();
        const Outcome outcome =
            readThrough(pacedLine(1e6 / CharacterMicros, 10000, jitter, 120, 7), plan);
        ASSERT_GT(outcome.frames, 1500);
        EXPECT_LE(outcome.wakeUpsPerFrame(), 1.3);
        EXPECT_LE(outcome.delayQuantile(0.5), 1000);
        EXPECT_LE(outcome.delayQuantile(0.99), 3000);
        EXPECT_NEAR(plan.piecePeriodMicros(), 10000 + jitter / 2, 50);
    }
}

// Hours of a stream are counts in the millions: what the plan reads from the counts must not
// drift with them.
TEST(ArrivalPlan, AfterAQuarterOfAnHourTheLooksAreAsGoodAsInTheFirstMinute) {
    ArrivalPlan plan = linePlan();
    const Outcome outcome =
        readThrough(pacedLine(1e6 / CharacterMicros, 10000, 100, 900, 13), plan, 13000);
    ASSERT_GT(outcome.frames, 800);
    EXPECT_LE(outcome.wakeUpsPerFrame(), 1.3);
    EXPECT_LE(outcome.delayQuantile(0.5), 1000);
    EXPECT_LE(outcome.delayQuantile(0.99), 3000);
}

// The reader sees a piece arrive mostly when it came late (an early look watches it come), so
// the pieces it sees are later than most: the period must not be measured from them alone, or
// every prediction drifts late by a little more each frame.
TEST(ArrivalPlan, PiecesThatSometimesComeLateDoNotMakeThePredictionsLate) {
    ArrivalPlan plan = linePlan();
    const Outcome outcome =
        readThrough(pacedLine(1e6 / CharacterMicros, 10000, 150, 120, 9, 50, 1300), plan);
    EXPECT_LE(outcome.wakeUpsPerFrame(), 1.3);
    EXPECT_LE(outcome.delayQuantile(0.5), 1000);
    EXPECT_LE(outcome.delayQuantile(0.99), 3000);
    // Nearer the usual gap (10075 us on average) than the mean with the late ones (10101 us).
    EXPECT_GT(plan.piecePeriodMicros(), 10000);
    EXPECT_LT(plan.piecePeriodMicros(), 10090);
}

TEST(ArrivalPlan, SixteenMillisecondPacketsAndAFastAdapterAlike) {
    for (const double piece : {16000.0, 1000.0, 4000.0}) {
        SCOPED_TRACE(piece);
        ArrivalPlan plan = linePlan();
        const Outcome outcome =
            readThrough(pacedLine(1e6 / CharacterMicros, piece, 50, 60, 11), plan);
        EXPECT_LE(outcome.wakeUpsPerFrame(), 1.3);
        EXPECT_LE(outcome.delayQuantile(0.99), 3000);
    }
}

TEST(ArrivalPlan, BytesOneByOneAreReadOncePerFrameRightAfterTheLast) {
    ArrivalPlan plan = linePlan();
    const Outcome outcome = readThrough(byteLine(60), plan);
    ASSERT_GT(outcome.frames, 800);
    EXPECT_LE(outcome.wakeUpsPerFrame(), 1.3);
    EXPECT_LE(outcome.delayQuantile(0.99), 1000);
}

TEST(ArrivalPlan, FramesHeldBackAndPassedOnTogetherAreTakenAsTheyCome) {
    ArrivalPlan plan = linePlan();
    const Outcome outcome = readThrough(burstLine(4, 60), plan);
    ASSERT_GT(outcome.frames, 800);
    // Three of every four frames are already there when the reader asks.
    EXPECT_LE(outcome.wakeUpsPerFrame(), 1.0);
    EXPECT_LE(outcome.delayQuantile(0.99), 3000);
}

// A device's clock is never exactly the line's: a slower one makes the looks early (a wake-up
// more, no delay), a faster one would make them late if nothing checked the pace.
TEST(ArrivalPlan, ADeviceAFewPerCentOffTheLineRateCostsWakeUpsNotDelay) {
    for (const double factor : {0.97, 0.99, 1.005, 1.02}) {
        SCOPED_TRACE(factor);
        ArrivalPlan plan = linePlan();
        const Outcome outcome =
            readThrough(pacedLine(factor * 1e6 / CharacterMicros, 10000, 100, 60, 3), plan, 60);
        EXPECT_LE(outcome.wakeUpsPerFrame(), 2.5);
        EXPECT_LE(outcome.delayQuantile(0.5), 1000);
        EXPECT_LE(outcome.delayQuantile(0.99), 3000);
    }
}

TEST(ArrivalPlan, WithoutPiecesSeenItSleepsOnlyThroughTheLineTime) {
    ArrivalPlan plan = linePlan();
    const std::int64_t now = 5'000'000;
    // Nothing learned: half the line time of the missing bytes, so a watch sees pieces.
    EXPECT_EQ(plan.lookAt(now, 0, 100), now + std::llround(50 * CharacterMicros));
    // Nothing missing, or no line speed: look at once.
    EXPECT_EQ(plan.lookAt(now, 100, 100), now);
    ArrivalPlan unknown;
    EXPECT_EQ(unknown.lookAt(now, 0, 100), now);

    // A pace learned, then the line quiet for longer than the pace is trusted: no prediction
    // from it, whatever it says.
    plan.pieceArrived(1'000'000, 10, false);
    plan.pieceArrived(1'010'000, 31, true);
    EXPECT_DOUBLE_EQ(plan.piecePeriodMicros(), 10000);
    const std::int64_t later = 1'010'000 + ArrivalPlan::StaleMicros + 1;
    const std::int64_t look = plan.lookAt(later, 31, 169);
    EXPECT_LE(look, later + std::llround(138 * CharacterMicros));
    plan.forget();
    EXPECT_EQ(plan.piecePeriodMicros(), 0);
}

TEST(ArrivalPlan, AFinerPeriodSeenTwiceInARowReplacesTheOldOneAtOnce) {
    ArrivalPlan plan = linePlan();
    std::int64_t at = 1'000'000;
    std::uint64_t count = 0;
    const auto piece = [&](std::int64_t gap, bool following) {
        at += gap;
        count += static_cast<std::uint64_t>(gap / CharacterMicros);
        plan.pieceArrived(at, count, following);
    };
    piece(0, false);
    for (int i = 0; i < 20; ++i) {
        piece(10000, true);
    }
    EXPECT_DOUBLE_EQ(plan.piecePeriodMicros(), 10000);
    // One short gap may be a piece that came in two; the second in a row is the line's pace.
    piece(2000, true);
    EXPECT_DOUBLE_EQ(plan.piecePeriodMicros(), 10000);
    piece(2000, true);
    EXPECT_DOUBLE_EQ(plan.piecePeriodMicros(), 2000);
    // And it stays, whatever the samples of the old pace left behind.
    for (int i = 0; i < 5; ++i) {
        piece(2000, true);
        EXPECT_DOUBLE_EQ(plan.piecePeriodMicros(), 2000) << i;
    }
}

TEST(ArrivalPlan, ALineThatChangesItsPaceIsLearnedAgain) {
    // Ten seconds of 10 ms pieces, then 2 ms pieces: the old pace fits none of the new gaps.
    Line line = pacedLine(1e6 / CharacterMicros, 10000, 0, 10, 5);
    const Line faster = pacedLine(1e6 / CharacterMicros, 2000, 0, 30, 5);
    const std::int64_t switched = line.back().at;
    for (const Piece& piece : faster) {
        if (piece.at > switched) {
            line.push_back(piece);
        }
    }
    ArrivalPlan plan = linePlan();
    const Outcome outcome = readThrough(line, plan, 300);
    EXPECT_NEAR(plan.piecePeriodMicros(), 2000, 50);
    EXPECT_LE(outcome.wakeUpsPerFrame(), 1.3);
    EXPECT_LE(outcome.delayQuantile(0.99), 3000);
}

} // namespace
} // namespace veltrace::link
