// The file half of a capture: the one-channel screen with a live trace and both cursor pairs,
// written as a PNG through a temporary file renamed into place (zlib level 9, as every capture
// is). A CAPTURE click costs this plus two screen updates and the overlay text, so this figure
// shows how much of the click's time the file takes.
#include "app/controls.h"
#include "app/scope_state.h"
#include "display/display.h"
#include "toolkit/toolkit.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

using namespace veltrace;

void BM_CapturePngSave(benchmark::State& state) {
    app::resetScopeState();
    for (int i = 0; i < app::SampleSlots; ++i) {
        const double phase = 2.0 * 3.141592653589793 * 2.5 * i / 128.0;
        app::scope.samples[i][0] = static_cast<std::uint8_t>(32.0 + 24.0 * std::sin(phase));
    }
    app::scope.cursorMode[0] = 3;
    display::renderScreen(0);
    toolkit::pngEncoderRegister();
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("veltrace-bench-" + std::to_string(getpid()) + ".PNG");
    for (auto _ : state) {
        if (toolkit::imageSave(app::BitmapScreen, file.string(), toolkit::ImageFormatPng) == 0) {
            state.SkipWithError("the PNG could not be written");
            break;
        }
    }
    state.counters["bytes"] =
        static_cast<double>(std::filesystem::exists(file) ? std::filesystem::file_size(file) : 0);
    std::filesystem::remove(file);
}
BENCHMARK(BM_CapturePngSave)->Unit(benchmark::kMillisecond);

} // namespace
