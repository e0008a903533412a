#include "display/readout.h"

#include "toolkit/toolkit.h"

#include <cstddef>
#include <cstdint>

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

std::string voltsText(float volts) {
    return toolkit::floatToText(volts, 2) + "V";
}

std::string timeText(float microseconds) {
    const std::size_t unit = stepUnits(microseconds, TimeUnitLimit, timeUnits);
    return toolkit::floatToText(microseconds, 2) + timeUnits[unit];
}

std::string frequencyText(float hertz) {
    const std::size_t unit = stepUnits(hertz, FreqUnitLimit, freqUnits);
    return toolkit::floatToText(hertz, 2) + freqUnits[unit];
}

state::ChannelReadout computeReadout(const state::ChannelCursors& cursors, float voltsPerStep,
                                     float timePerSample, const ViewGeometry& geometry) {
    state::ChannelReadout r;
    r.cursorDeltaY = static_cast<std::int16_t>(cursors.posHLineU - cursors.posHLineO);
    r.cursorDeltaX = static_cast<std::int16_t>(cursors.posVLineR - cursors.posVLineL);

    const float volts = static_cast<float>(static_cast<double>(r.cursorDeltaY) /
                                           static_cast<double>(geometry.rowsPerStep) *
                                           static_cast<double>(voltsPerStep));
    const float time = static_cast<float>(static_cast<double>(r.cursorDeltaX) *
                                          static_cast<double>(timePerSample) / PixelsPerSample);
    const float freq =
        time == 0.0f ? 0.0f : static_cast<float>(1.0 / (static_cast<double>(time) / 1000000.0));

    r.voltsReadout = voltsText(volts);
    r.timeReadout = timeText(time) + " (" + frequencyText(freq) + ")";
    return r;
}

} // namespace veltrace::display
