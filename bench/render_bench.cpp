// One screen update of each view, as the acquisition thread runs it after every frame: a sine
// trace with both cursor pairs shown, no controls (nothing to hand the image to), no capture.
#include "app/scope_state.h"
#include "display/display.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

namespace {

using namespace veltrace;

// Two and a half periods of a sine around the centre line, 24 steps high, as a live signal looks.
void loadSine() {
    app::resetScopeState();
    for (int c = 0; c < app::ChannelCount; ++c) {
        for (int i = 0; i < app::SampleSlots; ++i) {
            const double phase = 2.0 * 3.141592653589793 * 2.5 * i / 128.0 + c;
            app::scope.samples[i][c] = static_cast<std::uint8_t>(32.0 + 24.0 * std::sin(phase));
        }
        app::scope.cursorMode[c] = 3;
        app::scope.voltsPerStep[c] = 0.04f;
        app::scope.timePerSample[c] = 5.0f;
    }
}

void BM_renderScreen(benchmark::State& state) {
    loadSine();
    for (auto _ : state) {
        display::renderScreen(0);
    }
}
BENCHMARK(BM_renderScreen);

void BM_renderStrip(benchmark::State& state) {
    loadSine();
    app::scope.fourChannelView = 1;
    for (int c = 0; c < app::ChannelCount; ++c) {
        app::scope.posHLineO[c] = 10 / 4;
        app::scope.posHLineU[c] = 502 / 4;
    }
    for (auto _ : state) {
        display::renderStrip(0);
    }
}
BENCHMARK(BM_renderStrip);

} // namespace
