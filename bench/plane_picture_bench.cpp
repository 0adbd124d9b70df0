// The slice window's picture made again after a change of the grey window:
// the plane's samples filtered into a 512 x 512 picture, through the window,
// as the RGBA texels the overlay uploads (the upload itself is the GL
// driver's and not timed here). Each axis, on the 256^3 head phantom and on
// a 512 x 512 x 160 grid, where the sagittal plane's samples lie furthest
// apart in memory.
#include <benchmark/benchmark.h>

#include <vector>

#include "render/plane_picture.h"
#include "tools/volume/phantom.h"

namespace {

struct Texels {
    uint32_t dims[3];
    std::vector<uint16_t> texels;
};

const Texels& Phantom() {
    static const Texels grid = [] {
        Texels t{{256, 256, 256}, phantom::MakeHeadPhantom(256, 256, 256)};
        for (uint16_t& v : t.texels)
            v = static_cast<uint16_t>(v << 4);
        return t;
    }();
    return grid;
}

const Texels& LargeGrid() {
    static const Texels grid = [] {
        Texels t{{512, 512, 160}, std::vector<uint16_t>(size_t{512} * 512 * 160)};
        for (size_t i = 0; i < t.texels.size(); ++i)
            t.texels[i] = static_cast<uint16_t>(((i * 2654435761u) >> 7 & 0xFFF) << 4);
        return t;
    }();
    return grid;
}

void RemakePicture(benchmark::State& state, const Texels& grid) {
    const int axis = static_cast<int>(state.range(0));
    const PlaneSamples samples{grid.texels.data(), {grid.dims[0], grid.dims[1], grid.dims[2]}, 1, 0};
    const int32_t layer = static_cast<int32_t>(grid.dims[axis] / 2);
    std::vector<uint8_t> grey, rgba;
    float low = 0.0f;
    for (auto _ : state) {
        // A window/level drag: each picture through a window a little moved.
        low = low >= 1000.0f ? 0.0f : low + 10.0f;
        FillPlanePicture(samples, axis, layer, low, low + 2000.0f, 512, 512, &grey);
        GreyToRgba(grey, &rgba);
        benchmark::DoNotOptimize(rgba.data());
    }
}

void BM_PlanePicture512_Phantom256(benchmark::State& state) {
    RemakePicture(state, Phantom());
}
void BM_PlanePicture512_Grid512x512x160(benchmark::State& state) {
    RemakePicture(state, LargeGrid());
}
BENCHMARK(BM_PlanePicture512_Phantom256)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanePicture512_Grid512x512x160)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
