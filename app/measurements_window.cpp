// The Measurements window: the automatic measurements of the frame the main window shows, with
// their minimum, maximum and mean since the window opened (or since Reset), the scope's own
// reading with its marks, and the spectrum as a picture with its strongest line marked.
//
// Threads: the window is opened, closed and reset on the main thread; it is updated inside every
// screen update of the selected channel, which runs on either thread. All of its state below is
// guarded by the scope lock, which every screen update holds, so an update never sees a window
// half opened or half closed. The update only sets control texts and hands over a picture of
// filled rows (both safe from the acquisition thread); the labels of the spectrum are controls of
// their own, since text is drawn into pictures on the main thread only.
#include "app/app.h"
#include "app/controls.h"
#include "app/picture_pool.h"
#include "display/readout.h"
#include "display/spectrum_picture.h"
#include "display/view_geometry.h"
#include "link/acquisition.h"
#include "link/decoder.h"
#include "measure/measure.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>

namespace veltrace::app {

namespace {

namespace tk = veltrace::toolkit;
using state::scope;
using Guard = std::lock_guard<std::recursive_mutex>;

// The window's inner size and the spectrum picture: 65 lines (DC to half the sample rate);
// 10 dB per division, 7 divisions.
constexpr int WindowWidth = 544;
constexpr int WindowHeight = 540;
constexpr int SpectrumWidth = display::spectrumWidth(static_cast<int>(measure::SpectrumLines));
constexpr int SpectrumHeight = display::SpectrumHeight;
constexpr int RowsPerDivision = display::SpectrumRowsPerDivision;
constexpr int DbPerDivision = 10;
constexpr int SpectrumTop = 364;
// The four columns of values: value, minimum, maximum, mean.
constexpr int ColumnLeft = 146;
constexpr int ColumnPitch = 98;
constexpr int ColumnWidth = 92;

constexpr const char* NoValue = "---";
constexpr std::array<const char*, MeasureColumns> columnTitles = {"Value", "Min", "Max", "Mean"};

// What the frame callback keeps of each channel's last frame beyond its samples: a count of the
// frames completed into it (so the statistics take each frame once, however often it is drawn),
// and the device's reading with the switches byte that scales it.
struct ChannelFrame {
    std::uint64_t serial = 0;
    std::array<std::uint8_t, 4> reading{};
    std::uint8_t switches = 0;
};

struct WindowState {
    bool open = false;
    int channel = -1;                // the channel the statistics are of, -1 before the first
    std::uint64_t countedSerial = 0; // that channel's last frame in the statistics (0: none)
    measure::Statistics statistics;
    // What each control shows, so an unchanged text is not handed over again, and the number a
    // value text shows, so an unchanged value is not even formatted again.
    std::array<std::string, 200> shown;
    std::array<std::optional<std::optional<double>>, 200> shownValues;
    display::SpectrumBars bars; // kept for its memory: drawn anew each frame
};

// Guarded by the scope lock.
std::array<ChannelFrame, state::ChannelCount> frames;
WindowState window;

std::atomic<std::uint64_t> passes{0};

void setText(int control, const std::string& text) {
    std::string& shown = window.shown[static_cast<std::size_t>(control)];
    if (shown != text) {
        shown = text;
        tk::controlTextSet(control, text);
    }
}

std::string valueText(measure::Quantity quantity, double value) {
    const std::string_view unit = measure::quantityUnit(quantity);
    if (unit == "V") {
        return display::voltsText(static_cast<float>(value));
    }
    if (unit == "s") {
        return display::timeText(static_cast<float>(value * 1e6));
    }
    if (unit == "Hz") {
        return display::frequencyText(static_cast<float>(value));
    }
    return tk::floatToText(static_cast<float>(value), 1) + std::string(unit);
}

// A value text's control always shows the same quantity, so its text follows from the value.
void setValueText(int control, measure::Quantity quantity, const std::optional<double>& value) {
    std::optional<std::optional<double>>& shownValue =
        window.shownValues[static_cast<std::size_t>(control)];
    if (shownValue && *shownValue == value) {
        return;
    }
    shownValue = value;
    setText(control, value ? valueText(quantity, *value) : NoValue);
}

void showStatistics() {
    for (std::size_t q = 0; q < measure::QuantityCount; ++q) {
        const measure::Quantity quantity = measure::AllQuantities[q];
        const measure::Tally& tally = window.statistics.of(quantity);
        const int row = static_cast<int>(q);
        const bool any = tally.count > 0;
        setValueText(measureText(row, MeasureColumn::Minimum), quantity,
                     any ? std::optional(tally.minimum) : std::nullopt);
        setValueText(measureText(row, MeasureColumn::Maximum), quantity,
                     any ? std::optional(tally.maximum) : std::nullopt);
        setValueText(measureText(row, MeasureColumn::Mean), quantity, tally.mean());
    }
    const std::size_t count = window.statistics.frames();
    setText(TextMeasureFrames, tk::integerToText(static_cast<std::int64_t>(count)) +
                                   (count == 1 ? " frame" : " frames"));
}

void showValues(const measure::Measurements& measurements) {
    for (std::size_t q = 0; q < measure::QuantityCount; ++q) {
        const measure::Quantity quantity = measure::AllQuantities[q];
        setValueText(measureText(static_cast<int>(q), MeasureColumn::Value), quantity,
                     measure::valueOf(measurements, quantity));
    }
}

void showReading(int channel) {
    const ChannelFrame& frame = frames[static_cast<std::size_t>(channel)];
    if (frame.serial == 0) {
        setText(TextReading, NoValue);
        setText(TextReadingMark, "");
        return;
    }
    const measure::ScopeReading reading = measure::scaleReading(frame.reading, frame.switches);
    setText(TextReading,
            reading.volts
                ? tk::floatToText(static_cast<float>(*reading.volts), reading.decimals) + "V"
                : NoValue);
    std::string mark;
    if (reading.high) {
        mark = "HIGH";
    }
    if (reading.low) {
        mark += mark.empty() ? "LOW" : " LOW";
    }
    setText(TextReadingMark, mark);
}

// The row of a level on a scale whose top row stands for topDb, clamped to the picture.
int levelRow(double levelDb, double topDb) {
    const double row = (topDb - levelDb) * RowsPerDivision / DbPerDivision;
    return static_cast<int>(std::clamp(row, 0.0, static_cast<double>(SpectrumHeight - 1)));
}

// Never destroyed: the window's display may hand its last picture back at the very end.
PicturePool<display::SpectrumFootprint>& spectrumPool() {
    static auto* pool = new PicturePool<display::SpectrumFootprint>(1);
    return *pool;
}

// Pixels only, no text: this may run on the acquisition thread.
std::shared_ptr<tk::Image> drawSpectrum(const measure::Spectrum& spectrum, double topDb,
                                        std::uint32_t colour) {
    display::SpectrumBars& bars = window.bars;
    bars.colour = colour;
    bars.tops.resize(spectrum.levelDb.size());
    for (std::size_t line = 0; line < spectrum.levelDb.size(); ++line) {
        bars.tops[line] = levelRow(spectrum.levelDb[line], topDb);
    }
    bars.strongest = spectrum.strongest ? static_cast<int>(spectrum.strongest->line) : -1;
    return spectrumPool().draw(0, SpectrumWidth, display::SpectrumHeight,
                               [&](tk::Image& image, display::SpectrumFootprint& footprint) {
                                   return display::redrawSpectrum(image, bars, footprint);
                               });
}

void showSpectrum(int channel, const state::ChannelData& data) {
    const measure::Spectrum spectrum =
        measure::computeSpectrum(std::span(data.samples.data(), measure::MeasuredSamples),
                                 data.voltsPerStep, data.timePerSample);
    // The strongest line stands between 5 and 15 dB below the top, whatever its level.
    const double topDb =
        spectrum.strongest
            ? std::ceil((spectrum.strongest->levelDb + 5.0) / DbPerDivision) * DbPerDivision
            : 0.0;
    const std::uint32_t colour =
        display::geometryOf(display::View::Screen).traceColours[static_cast<std::size_t>(channel)];
    if (const std::shared_ptr<tk::Image> picture = drawSpectrum(spectrum, topDb, colour)) {
        tk::controlStateSet(ImageSpectrum, tk::imageStore(BitmapSpectrum, picture));
    }
    if (spectrum.levelDb.empty()) {
        setText(TextSpectrumScale, "");
        setText(TextSpectrumRight, "");
        setText(TextSpectrumPeak, "");
        return;
    }
    setText(TextSpectrumScale,
            "10 dB/div, top " + tk::floatToText(static_cast<float>(topDb), 0) + " dBV");
    setText(TextSpectrumRight,
            display::frequencyText(static_cast<float>(
                spectrum.lineSpacingHz * static_cast<double>(measure::SpectrumLines - 1))));
    setText(TextSpectrumPeak,
            spectrum.strongest
                ? "Strongest: " +
                      display::frequencyText(static_cast<float>(spectrum.strongest->frequencyHz)) +
                      " at " + tk::floatToText(static_cast<float>(spectrum.strongest->levelDb), 1) +
                      " dBV"
                : "Strongest: " + std::string(NoValue));
}

void createControls() {
    tk::labelCreate(LabelReading, 10, 310, ColumnLeft - 12, 20, "Scope reading:", 0);
    tk::valueTextCreate(TextReading, ColumnLeft, 308, ColumnWidth, 20);
    tk::valueTextCreate(TextReadingMark, ColumnLeft + ColumnPitch, 308, ColumnWidth, 20);

    tk::valueTextCreate(TextMeasureChannel, 10, 8, 50, 20);
    tk::valueTextCreate(TextMeasureFrames, 65, 8, 120, 20);
    tk::pushButtonCreate(ButtonMeasureReset, 444, 6, 90, 25, "Reset");
    for (int k = 0; k < MeasureColumns; ++k) {
        tk::labelCreate(LabelMeasureColumn + k, ColumnLeft + ColumnPitch * k, 42, ColumnWidth, 18,
                        columnTitles[static_cast<std::size_t>(k)], 1);
    }
    for (std::size_t q = 0; q < measure::QuantityCount; ++q) {
        const int row = static_cast<int>(q);
        const int y = 62 + 24 * row;
        tk::labelCreate(measureLabel(row), 10, y + 2, ColumnLeft - 12, 20,
                        std::string(measure::quantityName(measure::AllQuantities[q])) + ":", 0);
        for (int k = 0; k < MeasureColumns; ++k) {
            tk::valueTextCreate(measureText(row, static_cast<MeasureColumn>(k)),
                                ColumnLeft + ColumnPitch * k, y, ColumnWidth, 20);
        }
    }

    tk::labelCreate(LabelSpectrum, 10, 342, 80, 20, "Spectrum:", 0);
    tk::labelCreate(TextSpectrumScale, 90, 342, 250, 20, "", 0);
    tk::imageDisplayCreate(ImageSpectrum, 10, SpectrumTop, SpectrumWidth + 2 * display::SunkenEdge,
                           SpectrumHeight + 2 * display::SunkenEdge, 1);
    const int below = SpectrumTop + SpectrumHeight + 2 * display::SunkenEdge + 4;
    tk::labelCreate(TextSpectrumLeft, 10, below, 90, 20, "0Hz", 0);
    tk::labelCreate(TextSpectrumPeak, 110, below, 324, 20, "", 1);
    tk::labelCreate(TextSpectrumRight, 444, below, 90, 20, "", 0);
}

int selectedChannel() {
    const int c = scope.currentChannel.load();
    return c < state::ChannelCount ? c : 0;
}

} // namespace

void openMeasurementsWindow() {
    Guard guard(state::scopeLock());
    if (window.open && tk::windowExists(MeasurementsWindow) != 0) {
        tk::windowRaise(MeasurementsWindow);
        return;
    }
    // Beside the main window, so the trace stays in view.
    const int left = tk::windowLeft(MainWindow) + tk::windowOuterWidth(MainWindow) + 8;
    const int top = tk::windowTop(MainWindow);
    if (tk::windowOpen(MeasurementsWindow, left, top, WindowWidth, WindowHeight, "Measurements",
                       tk::WindowFixedCaption) == 0) {
        return;
    }
    window = WindowState{};
    createControls();
    window.open = true;
    // The frame on show is the first of the statistics.
    updateMeasurements(selectedChannel());
}

void closeMeasurementsWindow() {
    Guard guard(state::scopeLock());
    window.open = false;
    tk::windowClose(MeasurementsWindow);
    tk::imageStore(BitmapSpectrum, nullptr);
}

void resetMeasurements() {
    Guard guard(state::scopeLock());
    closeMeasurementsWindow();
    frames = {};
}

void resetMeasurementStatistics() {
    Guard guard(state::scopeLock());
    if (!window.open) {
        return;
    }
    // The frame on show is already counted; the statistics start again with the next one.
    window.statistics.reset();
    showStatistics();
}

void frameCompleted() {
    Guard guard(state::scopeLock());
    ChannelFrame& frame = frames[static_cast<std::size_t>(selectedChannel())];
    ++frame.serial;
    if (const link::FrameDecoder* decoder = link::frameDecoder()) {
        frame.reading = decoder->reading;
        frame.switches = decoder->head[1];
    }
    redrawCurrentView();
}

void updateMeasurements(int channel) {
    Guard guard(state::scopeLock());
    if (!window.open) {
        return;
    }
    passes.fetch_add(1, std::memory_order_relaxed);
    channel &= 3;
    const state::ChannelData& data = scope.channel[static_cast<std::size_t>(channel)];
    const measure::Measurements measurements =
        measure::measureFrame(std::span(data.samples.data(), measure::MeasuredSamples),
                              data.voltsPerStep, data.timePerSample);
    const std::uint64_t serial = frames[static_cast<std::size_t>(channel)].serial;
    if (channel != window.channel) {
        // Another channel: its statistics start with the frame now on show.
        window.channel = channel;
        window.statistics.reset();
        window.countedSerial = 0;
    }
    if (serial != 0 && serial != window.countedSerial) {
        window.statistics.add(measurements);
        window.countedSerial = serial;
    }
    setText(TextMeasureChannel, "CH" + tk::integerToText(channel + 1));
    showValues(measurements);
    showStatistics();
    showReading(channel);
    showSpectrum(channel, data);
}

std::uint64_t measurementPasses() {
    return passes.load(std::memory_order_relaxed);
}

} // namespace veltrace::app
