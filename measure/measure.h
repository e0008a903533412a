// The automatic measurements of one frame, its spectrum, and the scope's own reading, as pure
// functions of what they are given: the drawn samples, volts per step of the sample value and
// microseconds per sample. No toolkit, no scope state, no lock: the window and veltrace-log call
// these with a copy of a channel's data.
//
// The samples carry no zero level (the scope's position knob moves the trace up and down), so
// every value here is a difference: there is no absolute maximum, minimum, mean or RMS.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace veltrace::measure {

// The frame's drawn samples: only the first 128 of what the caller passes are measured (the
// device sends a 129th that the screens never draw).
inline constexpr std::size_t MeasuredSamples = 128;

// The screen's edges in sample values: value 0 lies one row below the picture and value 64 on
// its top row, so a trace that reaches either has been cut by the screen (or by the converter)
// and its height cannot be trusted.
inline constexpr int LowestUnclippedValue = 1;
inline constexpr int HighestUnclippedValue = 63;

// The measurements in the order the window and the log list them.
enum class Quantity {
    PeakToPeak,    // V
    Amplitude,     // V: top - base
    AcRms,         // V: RMS about the mean
    Frequency,     // Hz
    Period,        // s
    WidthPositive, // s
    WidthNegative, // s
    DutyPositive,  // %
    RiseTime,      // s: 10 % to 90 % of the amplitude
    FallTime,      // s: 90 % to 10 % of the amplitude
};
inline constexpr std::size_t QuantityCount = 10;
inline constexpr std::array<Quantity, QuantityCount> AllQuantities = {
    Quantity::PeakToPeak, Quantity::Amplitude,     Quantity::AcRms,         Quantity::Frequency,
    Quantity::Period,     Quantity::WidthPositive, Quantity::WidthNegative, Quantity::DutyPositive,
    Quantity::RiseTime,   Quantity::FallTime};

// A short name for labels ("Peak to peak", "Frequency", ...) and the SI unit of the value
// ("V", "Hz", "s", "%").
std::string_view quantityName(Quantity quantity);
std::string_view quantityUnit(Quantity quantity);

// Each value in volts, seconds, hertz or percent; empty where it cannot be had (no frame yet, a
// flat trace, less than one whole period, a clipped trace for the heights it falsifies).
struct Measurements {
    std::optional<double> peakToPeak;
    std::optional<double> amplitude;
    std::optional<double> acRms;
    std::optional<double> frequency;
    std::optional<double> period;
    std::optional<double> widthPositive;
    std::optional<double> widthNegative;
    std::optional<double> dutyPositive;
    std::optional<double> riseTime;
    std::optional<double> fallTime;
    // The trace reaches the screen's top or bottom edge somewhere.
    bool clipped = false;
};

std::optional<double> valueOf(const Measurements& measurements, Quantity quantity);

// voltsPerStep or microsecondsPerSample 0 (a channel that has had no frame yet), negative or not
// finite gives no values at all.
Measurements measureFrame(std::span<const std::uint8_t> samples, double voltsPerStep,
                          double microsecondsPerSample);

// The spectrum of the frame: the mean removed, a Hann window, the magnitude of each line of a
// 128-point transform as an RMS level in dB relative to 1 V, corrected for the window's
// coherent gain, so a sine of peak A volts on a line reads 20 log10(A / sqrt 2) dBV. Lines 0
// (DC) .. 64 (half the sample rate), lineSpacingHz apart.
inline constexpr std::size_t SpectrumLines = MeasuredSamples / 2 + 1;
// A line with nothing in it reads this rather than minus infinity.
inline constexpr double SpectrumFloorDb = -200.0;

struct SpectrumLine {
    std::size_t line = 0;
    double frequencyHz = 0.0;
    double levelDb = 0.0;
};

struct Spectrum {
    double lineSpacingHz = 0.0;
    std::vector<double> levelDb; // SpectrumLines entries; empty when there is no frame
    // The strongest line other than DC; empty for a flat trace or no frame.
    std::optional<SpectrumLine> strongest;
};

Spectrum computeSpectrum(std::span<const std::uint8_t> samples, double voltsPerStep,
                         double microsecondsPerSample);

// The scope's own reading (frame positions 134..137): hundreds, tens and units digit, then the
// flags (bit 0 high, bit 1 low, bit 4 negative), scaled by the range in bits 3..2 of the
// switches byte (1/100 on the 1 V range, 1/10 on 10 V, 1 on 100 V). No value when a digit is
// over 9 or the range bits name no range; decimals is how many the range gives (2, 1 or 0).
struct ScopeReading {
    std::optional<double> volts;
    int decimals = 0;
    bool high = false;
    bool low = false;
};

ScopeReading scaleReading(const std::array<std::uint8_t, 4>& reading, std::uint8_t switchesByte);

// Minimum, maximum and mean of one quantity over the frames that had a value for it.
struct Tally {
    std::size_t count = 0;
    double minimum = 0.0;
    double maximum = 0.0;
    double sum = 0.0;
    std::optional<double> mean() const;
};

// Statistics over many frames, per quantity, since construction or the last reset.
class Statistics {
  public:
    void add(const Measurements& measurements);
    void reset();
    const Tally& of(Quantity quantity) const {
        return tallies_[static_cast<std::size_t>(quantity)];
    }
    // Frames added, with or without values.
    std::size_t frames() const { return frames_; }

  private:
    std::array<Tally, QuantityCount> tallies_{};
    std::size_t frames_ = 0;
};

} // namespace veltrace::measure
