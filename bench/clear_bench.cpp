// Clearing a 508 x 512 24-bit picture: the least any screen update costs, since every update
// starts from a black picture. renderScreen's figure (render_bench.cpp) is quoted as a ratio to
// BM_ClearImageFill from the same run, which a shared, noisy machine cannot skew the way it skews
// absolute times.
#include "toolkit/toolkit.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

using namespace veltrace::toolkit;

constexpr int Width = 508, Height = 512;
constexpr std::size_t Bytes = static_cast<std::size_t>(Width) * Height * 3;
constexpr int BenchImage = 0;

// The bare clear: every byte of a picture that already exists set to black.
void BM_ClearImageFill(benchmark::State& state) {
    Image image;
    image.width = Width;
    image.height = Height;
    image.rgb.assign(Bytes, 0x55);
    for (auto _ : state) {
        std::fill(image.rgb.begin(), image.rgb.end(), std::uint8_t{0});
        benchmark::DoNotOptimize(image.rgb.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Bytes));
}
BENCHMARK(BM_ClearImageFill);

// The toolkit's way of getting a black picture: a new image object whose pixel vector is
// allocated and zeroed, put into the registry under its number (what renderScreen starts with).
void BM_ClearImageCreate(benchmark::State& state) {
    for (auto _ : state) {
        imageCreate(BenchImage, Width, Height);
        benchmark::DoNotOptimize(imageHandle(BenchImage));
    }
    imageFree(BenchImage);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(Bytes));
}
BENCHMARK(BM_ClearImageCreate);

} // namespace
