// The Volts and Time(Frq) readouts between a channel's cursor lines.
#include "display/display.h"

#include "app/controls.h"
#include "app/scope_state.h"
#include "toolkit/toolkit.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace veltrace::display {

namespace {

// The largest float below 100: every time of 100 or more of a unit is shown in the next one.
constexpr float TimeUnitLimit = 99.99999237060547f;
constexpr float FreqUnitLimit = 1000.0f;

// Divides by 1000 while the value is over the limit, storing every quotient as a float again,
// and never steps past the last unit of the table.
template <typename Units> std::size_t stepUnits(float& value, float limit, const Units& units) {
    std::size_t unit = 0;
    while (value > limit && unit + 1 < units.size()) {
        value = static_cast<float>(static_cast<double>(value) / 1000.0);
        ++unit;
    }
    return unit;
}

} // namespace

void updateReadout() {
    std::lock_guard<std::recursive_mutex> guard(app::scopeLock());
    app::ScopeState& s = app::scope;
    const int c = s.currentChannel.load();
    if (c >= app::ChannelCount) {
        return;
    }

    s.cursorDeltaY[c] = static_cast<std::int16_t>(s.posHLineU[c] - s.posHLineO[c]);
    s.cursorDeltaX[c] = static_cast<std::int16_t>(s.posVLineR[c] - s.posVLineL[c]);

    // Rows per sample step of the view that is showing.
    const double rowsPerStep = s.fourChannelView.load() != 0 ? 2.0 : 8.0;
    const float volts = static_cast<float>(static_cast<double>(s.cursorDeltaY[c]) / rowsPerStep *
                                           static_cast<double>(s.voltsPerStep[c]));
    float time = static_cast<float>(static_cast<double>(s.cursorDeltaX[c]) *
                                    static_cast<double>(s.timePerSample[c]) / 4.0);
    float freq =
        time == 0.0f ? 0.0f : static_cast<float>(1.0 / (static_cast<double>(time) / 1000000.0));

    const std::size_t timeUnit = stepUnits(time, TimeUnitLimit, s.timeUnits);
    const std::size_t freqUnit = stepUnits(freq, FreqUnitLimit, s.freqUnits);

    s.voltsReadout[c] = toolkit::floatToText(volts, 2) + "V";
    s.timeReadout[c] = toolkit::floatToText(time, 2) + s.timeUnits[timeUnit] + " (" +
                       toolkit::floatToText(freq, 2) + s.freqUnits[freqUnit] + ")";

    toolkit::controlTextSet(app::textVolts(c), s.voltsReadout[c]);
    toolkit::controlTextSet(app::textTime(c), s.timeReadout[c]);
}

} // namespace veltrace::display
