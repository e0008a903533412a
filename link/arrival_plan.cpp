#include "link/arrival_plan.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace veltrace::link {

void ArrivalPlan::setCharacterTime(double micros) {
    if (micros != characterMicros_) {
        forget();
        characterMicros_ = micros > 0 ? micros : 0;
    }
}

std::int64_t ArrivalPlan::lookAt(std::int64_t now, std::uint64_t have, std::uint64_t target) {
    plannedCount_ = -1;
    if (target <= have || characterMicros_ <= 0) {
        return now;
    }
    const double lineTime = characterMicros_ * static_cast<double>(target - have);
    if (!havePiece_ || period_ <= 0 || now - lastAt_ > StaleMicros) {
        // Nothing to predict from: sleep through the line's own time of the missing bytes, a
        // little less so a device whose clock runs fast still finds the reader watching. While
        // the pace is unknown only half of it, so the watch sees pieces arrive one after the
        // other and learns their period.
        const double share = period_ > 0 ? 15.0 / 16.0 : 0.5;
        return now + std::llround(lineTime * share);
    }
    // The rate is the line's, or the one measured when that is faster (a device whose clock
    // runs fast). A slower measured rate is not taken: a device that pauses between frames
    // measures slower than it sends inside a frame, and a prediction made with that rate would
    // come late. A device slower than the line makes the looks early, which costs a wake-up
    // and corrects the plan.
    const double rate = std::max(1.0 / characterMicros_, rate_);
    const double perPiece = period_ * rate;
    const double margin = LookMarginMicros;
    // Where the target falls close to the border between two pieces, the earlier one is taken:
    // a look one piece early costs a wake-up, one piece late costs a whole piece of delay.
    const double slack = std::min(3.0, perPiece / 4);
    const double needed = static_cast<double>(target) - static_cast<double>(lastCount_) - slack;
    double pieces = std::max(1.0, std::ceil(needed / perPiece));
    double pieceAt = static_cast<double>(lastAt_) + pieces * period_;
    if (pieceAt < static_cast<double>(now)) {
        // The pieces predicted up to now did not bring enough: it is the next one at the soonest.
        pieces = std::ceil((static_cast<double>(now - lastAt_)) / period_);
        pieceAt = static_cast<double>(lastAt_) + pieces * period_;
    }
    double look = 0;
    if (looksSincePiece_ >= LooksBeforeCheck) {
        // Look early on purpose, so the watch sees two pieces arrive one after the other and
        // checks the period itself: a finer one than the plan's would otherwise never show,
        // since every look would find its bytes already there.
        look = pieceAt - 1.5 * period_;
    } else {
        look = pieceAt + margin - std::min(early_, 2 * margin);
        // What the look should find: every piece up to it, at the rate.
        plannedCount_ = static_cast<double>(lastCount_) +
                        std::floor((look - static_cast<double>(lastAt_)) / period_) * perPiece;
    }
    // The byte wanted cannot come later than the line needs for it and a piece's delay: a pace
    // that predicts later is wrong, and the reader rather looks early.
    const double latest = static_cast<double>(now) + lineTime + period_ + margin;
    look = std::clamp(look, static_cast<double>(now), latest);
    return std::llround(look);
}

double ArrivalPlan::clockRate() const {
    const double line = 1.0 / characterMicros_;
    // A measured rate within a few per cent of the line's is the device's own clock; further
    // off it is a device that pauses, whose bytes tell no time.
    return rate_ > 0.97 * line && rate_ < 1.03 * line ? rate_ : line;
}

bool ArrivalPlan::sentBy(std::uint64_t count, double& sent) const {
    if (clockPieces_ < 3 || newestClockPiece_ < 0) {
        return false;
    }
    const auto newest = static_cast<std::size_t>(newestClockPiece_);
    const std::uint64_t base = clockCount_[newest];
    if (count < base) {
        return false;
    }
    const double rate = clockRate();
    double low = 0;
    double high = 0;
    for (int i = 0; i < clockPieces_; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const double offset =
            static_cast<double>(clockAt_[at]) +
            (static_cast<double>(base) - static_cast<double>(clockCount_[at])) / rate;
        low = i == 0 ? offset : std::min(low, offset);
        high = i == 0 ? offset : std::max(high, offset);
    }
    // Offsets further apart than a byte and some delivery jitter: the line does not stream
    // evenly (pauses, a driver that holds bytes back), and its counts are no clock.
    if (high - low > 1.0 / rate + 400) {
        return false;
    }
    sent = low + (static_cast<double>(count - base) + 0.5) / rate;
    return true;
}

void ArrivalPlan::looked(bool complete, std::uint64_t count) {
    double sent = 0;
    if (complete && sentBy(count, sent)) {
        // The piece that brought `count` was sent when the count's last byte was in, give or
        // take a byte: a fresh reference for the next prediction, one frame instead of many
        // from the last piece seen arriving.
        if (sent > static_cast<double>(lastAt_)) {
            lastAt_ = std::llround(sent);
            lastCount_ = count;
        }
    }
    if (complete) {
        ++looksSincePiece_;
        early_ = std::min(early_ + CreepMicros, 2 * LookMarginMicros);
        // More than the planned piece had come: the look was at least a piece late, so the
        // pace has drifted. Check it at the next look.
        const double perPiece = period_ * std::max(1.0 / characterMicros_, rate_);
        if (plannedCount_ >= 0 && period_ > 0 &&
            static_cast<double>(count) >= plannedCount_ + std::max(0.75 * perPiece, 2.5)) {
            looksSincePiece_ = LooksBeforeCheck;
        }
    }
    plannedCount_ = -1;
}

void ArrivalPlan::takePeriod(double sample, bool restart) {
    if (restart) {
        samples_ = 0;
        nextSample_ = 0; // while fewer than all, the samples are the first ones
    }
    periods_[static_cast<std::size_t>(nextSample_)] = sample;
    nextSample_ = (nextSample_ + 1) % PeriodSamples;
    samples_ = std::min(samples_ + 1, PeriodSamples);
    // The median, not the mean: a piece that came late moves every piece after it (the device
    // or its driver sleeps from one piece to the next), which the mean would spread over all
    // predictions as a period a little too long, each frame's look later than the last.
    std::array<double, PeriodSamples> sorted{};
    std::copy_n(periods_.begin(), samples_, sorted.begin());
    const auto middle = sorted.begin() + samples_ / 2;
    std::nth_element(sorted.begin(), middle, sorted.begin() + samples_);
    period_ = *middle;
}

void ArrivalPlan::pieceArrived(std::int64_t at, std::uint64_t count, bool following) {
    if (havePiece_ && at > lastAt_ && count > lastCount_) {
        const double gap = static_cast<double>(at - lastAt_);
        bool judged = false;
        bool agreed = false;
        if (following) {
            // Two pieces seen one after the other: their gap is the period itself.
            if (period_ <= 0) {
                takePeriod(gap, true);
                agreed = true;
            } else if (gap < 0.6 * period_) {
                // Pieces come more often than the plan thought, or one piece came in two. A
                // coarser period would still fit many of the gaps and keep the looks a piece
                // late, so a finer one seen twice in a row is taken at once.
                if (std::fabs(gap - finer_) <= finer_ / 4) {
                    takePeriod(gap, true);
                    agreed = true;
                } else {
                    finer_ = gap;
                }
            } else if (std::fabs(gap - period_) <= period_ / 4) {
                takePeriod(gap, false);
                agreed = true;
            }
            // A longer gap is a piece that did not come (the device paused): no judgement.
            judged = !agreed && gap < period_;
        } else if (period_ > 0 && at - lastAt_ <= StaleMicros) {
            const double periods = std::round(gap / period_);
            // Over many periods the pieces' own jitter adds up: a span that long that fits no
            // whole number of them says nothing against the period.
            judged = periods <= 4;
            if (periods >= 1 && std::fabs(gap - periods * period_) <= period_ / 4) {
                takePeriod(gap / periods, false);
                agreed = true;
            }
        }
        if (agreed) {
            disagreements_ = 0;
            finer_ = 0;
        } else if (judged && ++disagreements_ >= 3) {
            // Three pieces in a row off the pace: the line changed its manner; learn it again.
            period_ = 0;
            samples_ = 0;
            nextSample_ = 0;
            disagreements_ = 0;
        }
    }
    // The rate over a span of seconds.
    if (!haveReference_ || at - referenceAt_ > LongSpanMicros || count < referenceCount_) {
        haveReference_ = true;
        referenceAt_ = at;
        referenceCount_ = count;
    } else if (at - referenceAt_ >= 1'000'000) {
        rate_ =
            static_cast<double>(count - referenceCount_) / static_cast<double>(at - referenceAt_);
    }
    if (clockPieces_ > 0 && count < clockCount_[static_cast<std::size_t>(newestClockPiece_)]) {
        clockPieces_ = 0; // the count went back: a new line
        newestClockPiece_ = -1;
    }
    newestClockPiece_ = (newestClockPiece_ + 1) % ClockPieces;
    clockAt_[static_cast<std::size_t>(newestClockPiece_)] = at;
    clockCount_[static_cast<std::size_t>(newestClockPiece_)] = count;
    clockPieces_ = std::min(clockPieces_ + 1, ClockPieces);
    havePiece_ = true;
    lastAt_ = at;
    lastCount_ = count;
    early_ = 0;
    looksSincePiece_ = 0;
}

void ArrivalPlan::forget() {
    const double character = characterMicros_;
    *this = ArrivalPlan{};
    characterMicros_ = character;
}

} // namespace veltrace::link
