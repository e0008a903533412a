// The Volts and Time(Frq) readouts between a channel's cursor lines: pure arithmetic of the
// positions, the scale factors and the view's vertical scale.
#pragma once

#include "display/view_geometry.h"
#include "state/scope_state.h"

#include <array>
#include <string>

namespace veltrace::display {

inline constexpr std::array<const char*, 3> timeUnits = {"\xB5s", "ms", "s"};
inline constexpr std::array<const char*, 3> freqUnits = {"Hz", "KHz", "MHz"};

// The readouts' texts of one value, each in the unit the readouts choose: volts always ("1.25V");
// a time in microseconds stepped up to ms and s while 100 or more of a unit ("0.15ms"); a
// frequency in Hz stepped up to KHz and MHz while over 1000 ("6.67KHz"). Two decimals each.
std::string voltsText(float volts);
std::string timeText(float microseconds);
std::string frequencyText(float hertz);

// The readout of a channel's cursors: the deltas in pixels, the voltage between the horizontal
// lines ("1.25V") and the time between the vertical lines with the frequency of that period
// ("0.15ms (6.67KHz)"). Computed in double precision, stored in single precision at each step.
state::ChannelReadout computeReadout(const state::ChannelCursors& cursors, float voltsPerStep,
                                     float timePerSample, const ViewGeometry& geometry);

} // namespace veltrace::display
