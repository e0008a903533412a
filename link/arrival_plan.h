// When to look at a port for the bytes a frame still needs.
//
// Ports rarely hand the line over byte by byte: a USB serial adapter passes it on in packets at
// the pace of its latency timer, a pseudo-terminal in the writes of the program behind it. The
// system wakes a reader that waits in poll at every such piece, whatever VMIN asks for, so
// waiting for the frame's last byte costs a wake-up per piece. This plan learns the pieces'
// pace from the pieces the reader sees arrive, predicts which piece brings the byte wanted and
// when, and lets the reader sleep until just after that: one wake-up per frame when the
// prediction holds. When it does not, the look finds the frame incomplete and the reader
// watches the port as before, which costs a wake-up but no delay, and tells the plan the true
// arrival time. A look that comes late cannot tell by how much, so the plan moves its looks a
// little earlier after every look that found the frame complete, and looks early on purpose
// after a few frames without seeing a piece arrive: the pace is checked again before an error
// could grow.
//
// Pure and single-threaded: the caller supplies the times (microseconds on one monotonic clock)
// and the counts (bytes since the port opened, those read plus those the driver holds).
#pragma once

#include <array>
#include <cstdint>

namespace veltrace::link {

class ArrivalPlan {
  public:
    // How far after the predicted arrival of a piece the reader looks, and how much earlier
    // each look that found its bytes moves the next.
    static constexpr double LookMarginMicros = 500;
    static constexpr double CreepMicros = 50;
    // Looks that found their bytes without a piece seen arriving, before one looks early on
    // purpose.
    static constexpr int LooksBeforeCheck = 16;
    // A pace older than this is not trusted for a prediction (the line went quiet, HOLD...).
    static constexpr std::int64_t StaleMicros = 2'000'000;
    // The longest span over which the rate is measured.
    static constexpr std::int64_t LongSpanMicros = 5'000'000;

    // The line's time per character (start, data, parity and stop bits); 0 when unknown, in
    // which case the plan never predicts.
    void setCharacterTime(double micros);

    // When the reader should look, given what has arrived (`have`) and the count it waits for
    // (`target` > `have`). Never before `now`.
    std::int64_t lookAt(std::int64_t now, std::uint64_t have, std::uint64_t target);
    // What the look planned by the last lookAt found: the count then, and whether it reached
    // the target.
    void looked(bool complete, std::uint64_t count);
    // A piece the reader saw arrive while watching: its time and the count with it. `following`
    // when the reader saw the piece before it too (the two are neighbours).
    void pieceArrived(std::int64_t at, std::uint64_t count, bool following);
    // Forgets what it learned about the pieces (a quiet line, a new port).
    void forget();

    // What was learned, for tests and reports: the pieces' period (0 while unknown).
    double piecePeriodMicros() const { return period_; }

  private:
    double characterMicros_ = 0;
    bool havePiece_ = false;
    std::int64_t lastAt_ = 0;     // the last piece seen arriving
    std::uint64_t lastCount_ = 0; // and the count with it
    double period_ = 0;           // time between pieces, 0 while unknown
    double rate_ = 0;             // bytes per microsecond measured, 0 while unknown
    // A piece seen a while ago: the span from it measures the rate.
    bool haveReference_ = false;
    std::int64_t referenceAt_ = 0;
    std::uint64_t referenceCount_ = 0;
    // The last periods measured (a gap between neighbours, or a span over its periods).
    static constexpr int PeriodSamples = 15;
    std::array<double, PeriodSamples> periods_{};
    int samples_ = 0;
    int nextSample_ = 0;
    void takePeriod(double sample, bool restart);
    // The byte clock: a line that streams without pause delivers its bytes at the rate, so
    // the count a piece brings tells when it was sent. The last pieces seen arriving set the
    // clock: each one's time less its count's share of the time, counted from the newest of
    // them (small counts, so a rate that is a little off hardly matters), the least of these
    // the clock's start.
    static constexpr int ClockPieces = 6;
    std::array<std::int64_t, ClockPieces> clockAt_{};
    std::array<std::uint64_t, ClockPieces> clockCount_{};
    int clockPieces_ = 0;
    int newestClockPiece_ = -1;
    double clockRate() const;
    // When the piece that brought `count` left, by that clock; false when the line does not
    // stream evenly enough to tell.
    bool sentBy(std::uint64_t count, double& sent) const;
    int disagreements_ = 0;    // pieces in a row that fit no whole number of periods
    double finer_ = 0;         // a gap between neighbours shorter than the period
    double early_ = 0;         // how much earlier than the margin the next look comes
    int looksSincePiece_ = 0;  // looks that found their bytes since a piece was seen
    double plannedCount_ = -1; // the count the planned look expected, -1 when it did not predict
};

} // namespace veltrace::link
