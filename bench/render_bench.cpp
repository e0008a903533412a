// One screen update of each view, as the acquisition thread runs it after every frame: a sine
// trace with both cursor pairs shown, no controls (nothing to hand the image to), no capture.
// The whole update (app::renderScreen: picture, panel texts, readout) and the drawing alone
// (display::drawView into one image drawn over and over) apart.
#include "app/app.h"
#include "display/draw.h"
#include "state/scope_state.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

namespace {

using namespace veltrace;

// Two and a half periods of a sine around the centre line, 24 steps high, as a live signal looks.
void loadSine() {
    state::resetScopeState();
    for (int c = 0; c < state::ChannelCount; ++c) {
        for (int i = 0; i < state::SampleSlots; ++i) {
            const double phase = 2.0 * 3.141592653589793 * 2.5 * i / 128.0 + c;
            state::scope.channel[c].samples[i] =
                static_cast<std::uint8_t>(32.0 + 24.0 * std::sin(phase));
        }
        state::scope.cursors[c].cursorMode = state::CursorMode::Both;
        state::scope.channel[c].voltsPerStep = 0.04f;
        state::scope.channel[c].timePerSample = 5.0f;
    }
}

void BM_renderScreen(benchmark::State& state) {
    loadSine();
    for (auto _ : state) {
        app::renderScreen();
    }
}
BENCHMARK(BM_renderScreen);

void BM_renderStrip(benchmark::State& state) {
    loadSine();
    state::scope.fourChannelView = 1;
    for (int c = 0; c < state::ChannelCount; ++c) {
        state::scope.cursors[c].posHLineO = 10 / 4;
        state::scope.cursors[c].posHLineU = 502 / 4;
    }
    for (auto _ : state) {
        app::renderStrip(0);
    }
}
BENCHMARK(BM_renderStrip);

void BM_drawViewScreen(benchmark::State& state) {
    loadSine();
    const auto image =
        toolkit::imageBlank(display::ScreenGeometry.width, display::ScreenGeometry.height);
    for (auto _ : state) {
        display::drawView(*image, display::ScreenGeometry, 0, state::scope.channel[0],
                          state::scope.cursors[0]);
        benchmark::DoNotOptimize(image->rgb.data());
    }
}
BENCHMARK(BM_drawViewScreen);

} // namespace
