// veltrace-log's work without its command line: a stream of timed bytes in, a CSV row for every
// whole frame out, and on request the capture the CAPTURE button would save for that frame in
// the one-channel view.
#pragma once

#include "link/decoder.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace veltrace::logtool {

struct LoggerOptions {
    std::uint64_t maxFrames = 0; // stop after this many rows; 0 = no limit
    std::string capturesDir;     // "" = no captures
    std::uint64_t every = 1;     // captures of frames every, 2 * every, ...
    toolkit::Handle font = 0;    // the capture overlay's font (toolkitInitHeadless, fontLoad)
    bool measure = false;        // the measurement columns after the others
};

// The measurement columns, in their order after link::CsvColumns and the samples: volts,
// hertz, seconds and percent.
inline constexpr std::string_view MeasureColumns =
    "v_pp,v_amplitude,v_ac_rms,frequency_hz,period_s,width_pos_s,width_neg_s,duty_percent,"
    "rise_s,fall_s,reading_v";
// The header row, with the measurement columns when asked; with its line end.
std::string csvHeader(bool measure);
// The measurement fields of a frame, each preceded by its comma: empty where there is no
// value (see measure/), else a plain decimal number (csvNumber).
std::string measureFields(const link::FrameDecoder& decoder, const state::ChannelData& channel);
// A number in plain decimal notation (never an exponent) with 9 significant digits, trailing
// zeros after the point dropped: 0.0000000512, 1234.56789, 0 (never -0).
std::string csvNumber(double value);

class FrameLogger {
  public:
    explicit FrameLogger(LoggerOptions options);

    // Decodes bytes whose last one arrived at `wallMicros` (microseconds since 1970) and appends
    // a row to `csv` for every whole frame among them, numbered 1, 2, ... in the order they
    // complete. Frames the decoder reports that are not whole (link::frameIsWhole) are counted
    // and get no row and no number. Bytes after the last allowed frame are ignored.
    void feed(std::span<const std::uint8_t> bytes, std::int64_t wallMicros, std::string& csv);

    // The device went away: what comes once it is back starts anywhere in a frame, so the
    // decoder waits for a sync byte rather than finish the broken frame with it.
    void deviceLost() { decoder_.framePosition = link::WaitForSync; }

    bool done() const { return options_.maxFrames != 0 && rows_ >= options_.maxFrames; }
    std::uint64_t rows() const { return rows_; }
    std::uint64_t rejected() const { return rejected_; }
    std::uint64_t capturesFailed() const { return capturesFailed_; }

  private:
    LoggerOptions options_;
    link::FrameDecoder decoder_;
    state::ChannelData channel_;
    std::uint64_t rows_ = 0;
    std::uint64_t rejected_ = 0;
    std::uint64_t capturesFailed_ = 0;
};

// "frame-000042.png": by frame number, so the files sort in the order of the rows.
std::string captureName(std::uint64_t frame);

// The capture of a channel's frame as the window's CAPTURE saves it in the one-channel view with
// the cursors off: the screen picture with the timebase and range written on it, through the
// same drawing and file code. False when the file could not be written (nothing left behind).
bool saveFrameCapture(const state::ChannelData& channel, toolkit::Handle font,
                      const std::string& fileName);

} // namespace veltrace::logtool
