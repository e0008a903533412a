// The file half of a capture: the one-channel screen with a live trace and both cursor pairs,
// written as a PNG through a temporary file renamed into place (zlib level 9, as every capture
// is). A CAPTURE click costs this plus one screen update and the overlay text, so this figure
// shows how much of the click's time the file takes.
#include "display/draw.h"
#include "state/scope_state.h"
#include "toolkit/toolkit.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using namespace veltrace;

void BM_CapturePngSave(benchmark::State& benchmarkState) {
    state::ChannelData data;
    for (int i = 0; i < state::SampleSlots; ++i) {
        const double phase = 2.0 * 3.141592653589793 * 2.5 * i / 128.0;
        data.samples[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(32.0 + 24.0 * std::sin(phase));
    }
    state::ChannelCursors cursors;
    cursors.cursorMode = state::CursorMode::Both;
    const auto picture = display::renderView(display::ScreenGeometry, 0, data, cursors);
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("veltrace-bench-" + std::to_string(getpid()) + ".PNG");
    for (auto _ : benchmarkState) {
        if (toolkit::imageSavePng(*picture, file.string()) == 0) {
            benchmarkState.SkipWithError("the PNG could not be written");
            break;
        }
    }
    benchmarkState.counters["bytes"] =
        static_cast<double>(std::filesystem::exists(file) ? std::filesystem::file_size(file) : 0);
    std::filesystem::remove(file);
}
BENCHMARK(BM_CapturePngSave)->Unit(benchmark::kMillisecond);

} // namespace
