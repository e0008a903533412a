// The frame log: which of the frames the decoder reports came through the line whole, and one
// frame as a row of CSV. Pure functions of the decoder's state and the channel it decoded into.
#pragma once

#include "link/decoder.h"
#include "state/scope_state.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace veltrace::link {

// The decoder reports a frame at position 137 after a sync byte even when bytes of it were lost
// or changed on the way. A reported frame counts as whole when
//   - it began with a sync byte (not a fresh decoder's first byte, nor a position that wrapped
//     round after a lost sync byte),
//   - every byte is a seven-bit byte, as the line delivers them,
//   - the switches byte names a coupling and a range, the timebase byte a code 0..9,
//   - the trigger byte is the automatic trigger or names exactly one source and slope, and with
//     a source the level byte names exactly one level (0 for -0.5, or one of bits 2..6),
//   - the reading flags set no bit but 0 (high), 1 (low) and 4 (negative), and not both marks.
// A byte lost inside a frame moves the next sync byte to position 137 or earlier, where it
// restarts the frame, so such a frame is never reported at all; a lost or changed sync byte
// makes the next report start at a wrong place, which the first rule catches; a slip that runs
// into the next frame puts its settings or samples where the flags stand. A changed bit of a
// sample cannot be told from a true sample. Reading digits over 9 are not taken for a fault of
// the line (the row then leaves the reading empty), and bits the decoder does not look at are
// not checked: the device may use them.
bool frameIsWhole(const FrameDecoder& decoder, const state::ChannelData& channel);

// The device's own reading (positions 134..136 the hundreds, tens and units digit, negated by
// bit 4 of position 137) scaled by the range of the frame's switches byte: divided by 100 at
// "1V -> 0.1V/div", by 10 at "10V -> 1V/div", by 1 at "100V -> 10V/div", written with as many
// decimals. Empty when a digit is over 9 or the range bits name no range.
std::string readingText(const std::array<std::uint8_t, 4>& reading, std::uint8_t switchesByte);
// "high" for bit 0 of the flags, else "low" for bit 1, else "".
std::string readingMark(std::uint8_t flags);

// Local time in ISO 8601 with milliseconds, e.g. "2026-12-07T21:06:05.123" (no zone suffix: it
// is the wall clock of the machine that logs).
std::string localIsoTime(std::int64_t wallMicros);
// The program's texts are Latin-1 ("\xB5" for the micro sign); CSV files are UTF-8.
std::string latin1ToUtf8(std::string_view text);

inline constexpr std::string_view CsvColumns =
    "time,frame,switches,volts_per_div,timebase,us_per_sample,trigger,reading,reading_mark";
// The header row: CsvColumns, then s0 .. s128; with its line end.
std::string csvHeader();
// One frame as a row, with its line end: the time its last byte arrived, its number, the
// decoded texts and scale factors of `channel`, the reading, and the 129 raw samples.
std::string csvRow(std::int64_t wallMicros, std::uint64_t frame, const FrameDecoder& decoder,
                   const state::ChannelData& channel);

} // namespace veltrace::link
