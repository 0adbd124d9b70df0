// The program's per-volume and per-view work against the plainest code that
// does the same job: Load against a read of the file plus the texture, the
// histogram count against one summing pass, the cutting of 500 planes, and the
// editor's lookup texture and geometry. Runs on the headless device in the
// data folder (fx.fx, tam_ui.dds, head256.vol).
#include <benchmark/benchmark.h>
#include <epoxy/gl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/app_state.h"
#include "platform/shell/shell.h"
#include "render/renderer.h"
#include "slicing/camera.h"
#include "slicing/slice_geometry.h"
#include "ui/tab.h"
#include "volume/gradient.h"
#include "volume/histogram.h"
#include "volume/volume.h"

namespace {

constexpr const char* kVolumeFile = "head256.vol";
constexpr uint32_t kHistogramBins = 640;  // half the default window width

// The device every benchmark shares: the viewer's, sized like its window.
bool StartDevice() {
    if (::chdir(TAMLO_DATA_DIR) != 0)
        return false;
    shell::testing::RecordMessageBoxes(true);
    SetClientSize(1280, 1024);
    return InitDevice() && Volume.Load(kVolumeFile);
}

void Fail(benchmark::State& state, const char* what) {
    state.SkipWithError(what);
}

void BM_VolumeLoad(benchmark::State& state) {
    for (auto _ : state) {
        if (!Volume.Load(kVolumeFile))
            return Fail(state, "CVolume::Load failed");
        glFinish();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * Volume.voxelCount * 2);
}

// What any loader must do: read the samples and make the texture from them.
void BM_PlainReadAndTexture(benchmark::State& state) {
    for (auto _ : state) {
        const int fd = ::open(kVolumeFile, O_RDONLY);
        struct stat info {};
        ::fstat(fd, &info);
        std::vector<uint16_t> samples(static_cast<size_t>(info.st_size - 6) / 2);
        ::pread(fd, samples.data(), samples.size() * 2, 6);
        ::close(fd);
        gpu::Texture3DDesc desc;
        desc.Width = desc.Height = desc.Depth = 256;
        desc.MipLevels = 1;
        desc.Format = gpu::Format::R16_UNORM;
        desc.Usage = gpu::Usage::DEFAULT;
        desc.BindFlags = gpu::BIND_SHADER_RESOURCE;
        gpu::SubresourceData init;
        init.pSysMem = samples.data();
        init.SysMemPitch = 512;
        init.SysMemSlicePitch = 512 * 256;
        gpu::Texture3D* texture = nullptr;
        if (gpu::FAILED(Renderer.device->CreateTexture3D(&desc, &init, &texture)))
            return Fail(state, "CreateTexture3D failed");
        glFinish();
        texture->Release();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * 256 * 256 * 256 * 2);
}

// What shading adds to a load: the gradient of the loaded samples (their
// 12 bits, on the grid GradientGrid gives), on the CPU alone and with its
// texture made, as the load makes it.
struct GradientInput {
    std::vector<uint16_t> samples;
    uint32_t dims[3];
    float spacing[3];
};

GradientInput LoadedSamples() {
    GradientInput in;
    in.samples.assign(Volume.voxels.get(), Volume.voxels.get() + Volume.voxelCount);
    for (uint16_t& s : in.samples)
        s = static_cast<uint16_t>(s >> 4);
    in.dims[0] = uint32_t(Volume.dimX), in.dims[1] = uint32_t(Volume.dimY),
    in.dims[2] = uint32_t(Volume.dimZ);
    in.spacing[0] = Volume.spacingX, in.spacing[1] = Volume.spacingY, in.spacing[2] = Volume.spacingZ;
    return in;
}

void BM_ComputeGradient(benchmark::State& state) {
    const GradientInput in = LoadedSamples();
    std::vector<uint8_t> gradient(in.samples.size() * kGradientBytesPerSample);
    for (auto _ : state) {
        ComputeGradient(in.samples.data(), in.dims, in.spacing, gradient.data());
        benchmark::DoNotOptimize(gradient.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * Volume.voxelCount);
}

// Arg 1: as the load makes it (the grid halved for this volume, slab by slab
// into an empty texture); arg 0: the full grid made whole, then the texture
// from it, the option measured against it.
void BM_GradientWithTexture(benchmark::State& state) {
    const GradientInput in = LoadedSamples();
    for (auto _ : state) {
        uint32_t dims[3], factors[3];
        GradientGrid(in.dims, dims, factors);
        const bool asLoaded = state.range(0) != 0;
        if (!asLoaded)
            dims[0] = in.dims[0], dims[1] = in.dims[1], dims[2] = in.dims[2];
        // A 2D array, a slice per z.
        gpu::Texture2DDesc desc;
        desc.Width = dims[0];
        desc.Height = dims[1];
        desc.ArraySize = std::max(dims[2], 2u);
        desc.MipLevels = 1;
        desc.Format = gpu::Format::R8G8B8A8_UNORM;
        desc.Usage = gpu::Usage::DEFAULT;
        desc.BindFlags = gpu::BIND_SHADER_RESOURCE;
        gpu::Texture2D* texture = nullptr;
        const uint32_t rowPitch = 4 * dims[0];
        const size_t sliceBytes = size_t{rowPitch} * dims[1];
        if (asLoaded) {
            if (gpu::FAILED(Renderer.device->CreateTexture2D(&desc, nullptr, &texture)))
                return Fail(state, "CreateTexture2D failed");
            ComputeGradientSlabs(in.samples.data(), in.dims, in.spacing, kGradientSlabTexels,
                                 [&](uint32_t firstZ, uint32_t planes, const uint8_t* slab) {
                                     for (uint32_t z = firstZ; z < firstZ + planes; ++z)
                                         Renderer.context->UpdateSubresource(texture, z, nullptr,
                                                                             slab + (z - firstZ) * sliceBytes,
                                                                             rowPitch, 0);
                                 });
        } else {
            std::unique_ptr<uint8_t[]> gradient(new uint8_t[sliceBytes * dims[2]]);
            ComputeGradient(in.samples.data(), dims, in.spacing, gradient.get());
            std::vector<gpu::SubresourceData> slices(desc.ArraySize);
            for (uint32_t z = 0; z < desc.ArraySize; ++z)
                slices[z] = {gradient.get() + sliceBytes * std::min(z, dims[2] - 1), rowPitch, 0};
            if (gpu::FAILED(Renderer.device->CreateTexture2D(&desc, slices.data(), &texture)))
                return Fail(state, "CreateTexture2D failed");
        }
        glFinish();
        texture->Release();
    }
}

void BM_CountHistogram(benchmark::State& state) {
    for (auto _ : state) {
        HistogramCounts counts = CountHistogram(Volume.voxels.get(), Volume.voxelCount, kHistogramBins);
        benchmark::DoNotOptimize(counts.bins.data());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * Volume.voxelCount);
}

// The least any histogram must do: touch every sample once.
void BM_SummingPass(benchmark::State& state) {
    for (auto _ : state) {
        uint64_t sum = 0;
        const uint16_t* samples = Volume.voxels.get();
        for (uint32_t i = 0; i < Volume.voxelCount; ++i)
            sum += samples[i];
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * Volume.voxelCount);
}

void BM_GenerateHistogram(benchmark::State& state) {
    for (auto _ : state) {
        if (!GenerateHistogram(kHistogramBins))
            return Fail(state, "GenerateHistogram failed");
        Volume.histogramView->Release();
        Volume.histogramView = nullptr;
        Volume.histogramTexture->Release();
        Volume.histogramTexture = nullptr;
    }
}

// One view's cutting: a new orbit each time, as a rotation drag asks for.
void BM_CutSlices500(benchmark::State& state) {
    std::vector<VolumeVertex> vertices(kSliceVertexCapacity);
    std::vector<uint32_t> indices(kSliceIndexCapacity);
    float yaw = 0.0f;
    for (auto _ : state) {
        d3dx::Matrix view;
        d3dx::Vector4 light;
        ComputeOrbitView(1.0f, yaw, 4.0f, &view, &light);
        yaw += 0.01f;
        const SliceCut cut = CutSlices(view, 0.5f, 0.5f, 0.5f, vertices.data(), indices.data());
        benchmark::DoNotOptimize(cut.indexCount);
    }
}

void BM_GenerateTransfer(benchmark::State& state) {
    for (auto _ : state) {
        if (!EditorTab.GenerateTransfer())
            return Fail(state, "GenerateTransfer failed");
    }
}

void BM_GenerateColorGeometry(benchmark::State& state) {
    for (auto _ : state) {
        if (!EditorTab.GenerateColorGeometry())
            return Fail(state, "GenerateColorGeometry failed");
    }
}

BENCHMARK(BM_VolumeLoad)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_PlainReadAndTexture)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ComputeGradient)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GradientWithTexture)->Unit(benchmark::kMillisecond)->MinTime(2.0)->Arg(0)->Arg(1);
BENCHMARK(BM_CountHistogram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SummingPass)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenerateHistogram)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CutSlices500)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GenerateTransfer)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GenerateColorGeometry)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!StartDevice()) {
        for (const auto& box : shell::testing::TakeMessageBoxes())
            std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), box.text.c_str());
        std::fprintf(stderr, "tamlo_bench_volume: no device or no %s in %s\n", kVolumeFile, TAMLO_DATA_DIR);
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Volume.Unload();
    EditorTab.Release();
    ReleaseDevice();
    return 0;
}
