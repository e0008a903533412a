// The toolkit's share of a screen update: a fresh 508 x 512 image with the grid, a sine trace of
// 127 segments and four cursor lines, and single lines of the kinds a screen is made of.
#include "toolkit/toolkit.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>

namespace {

using namespace veltrace::toolkit;

constexpr int Width = 508, Height = 512;
constexpr int BenchImage = 0;

std::array<int, 128> sineRows() {
    std::array<int, 128> rows{};
    for (int i = 0; i < 128; ++i) {
        const int value =
            static_cast<int>(32.0 + 24.0 * std::sin(2.0 * 3.141592653589793 * 2.5 * i / 128.0));
        rows[i] = 512 - 8 * value;
    }
    return rows;
}

void drawScreenLines(const std::array<int, 128>& rows) {
    imageCreate(BenchImage, Width, Height);
    drawingBegin(BenchImage);
    for (int x : {40, 120, 200, 280, 360, 440}) {
        drawLine(x, 0, x, 512, 0x444444);
    }
    for (int y : {100, 204, 308, 412}) {
        drawLine(0, y, 512, y, 0x444444);
    }
    for (int x : {80, 160, 240, 320, 400, 480}) {
        drawLine(x, 0, x, 512, 0x888888);
    }
    for (int y : {48, 152, 256, 360, 464}) {
        drawLine(0, y, 512, y, 0x888888);
    }
    for (int i = 0; i < 127; ++i) {
        drawLine(4 * i, rows[i], 4 * i + 4, rows[i + 1], 0x00FFFF);
    }
    drawLine(300, 0, 300, 512, 0xFFFF33);
    drawLine(100, 0, 100, 512, 0xFFFF33);
    drawLine(0, 150, 512, 150, 0xFFFF33);
    drawLine(0, 350, 512, 350, 0xFFFF33);
    drawingEnd();
}

void BM_DrawScreenLines(benchmark::State& state) {
    const std::array<int, 128> rows = sineRows();
    for (auto _ : state) {
        drawScreenLines(rows);
        benchmark::DoNotOptimize(imageHandle(BenchImage));
    }
}
BENCHMARK(BM_DrawScreenLines);

// One line on an image that stays open: 0 = full-width grid line, 1 = steep trace segment,
// 2 = a segment from far above the image (a spike) that is mostly clipped.
void BM_DrawLine(benchmark::State& state) {
    imageCreate(BenchImage, Width, Height);
    drawingBegin(BenchImage);
    const int kind = static_cast<int>(state.range(0));
    for (auto _ : state) {
        if (kind == 0) {
            drawLine(0, 256, 512, 256, 0x888888);
        } else if (kind == 1) {
            drawLine(200, 104, 204, 408, 0x00FFFF);
        } else {
            drawLine(200, -2000, 204, 300, 0x00FFFF);
        }
        benchmark::ClobberMemory();
    }
    drawingEnd();
}
BENCHMARK(BM_DrawLine)->Arg(0)->Arg(1)->Arg(2);

} // namespace
