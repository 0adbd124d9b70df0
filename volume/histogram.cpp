#include "volume/histogram.h"

#include <algorithm>
#include <memory>

#include "render/resources.h"
#include "volume/volume.h"

namespace {

constexpr const char* kHistogramCaption = "CVolume::GenerateHistogram";

}  // namespace

bool HistogramIsLogarithmic = false;

bool GenerateHistogram(uint32_t binCount) {
    HistogramCounts counts =
        Volume.voxels != nullptr && Volume.valueCounts.size() == kSampleValues
            ? CountHistogramFromValues(Volume.valueCounts.data(), binCount)
            : CountHistogram(Volume.voxels.get(), Volume.voxels ? Volume.voxelCount : 0, binCount);
    Volume.binCount = binCount;
    Volume.histogramBins.reset(new uint32_t[binCount > 0 ? binCount : 1]());
    std::copy(counts.bins.begin(), counts.bins.end(), Volume.histogramBins.get());
    Volume.maxSample = counts.maxSample;
    Volume.maxBinCount = counts.maxBinCount;

    // No columns, no picture: the panel then shows no histogram (a window
    // narrower than two pixels asks for no bins).
    if (binCount == 0)
        return false;

    std::vector<uint32_t> image = BuildHistogramImage(
        HistogramIsLogarithmic ? LogarithmicBins(counts.bins, counts.maxBinCount) : counts.bins,
        counts.maxBinCount);
    gpu::Texture2DDesc desc;
    desc.Width = binCount;
    desc.Height = kHistogramRows;
    desc.Format = gpu::Format::R8G8B8A8_UNORM;
    gpu::SubresourceData init;
    init.pSysMem = image.data();
    init.SysMemPitch = 4 * binCount;
    return CreateTextureWithView(
        desc, init,
        {"CreateTexture2D failed", kHistogramCaption, "CreateShaderResourceView failed", kHistogramCaption},
        &Volume.histogramTexture, &Volume.histogramView);
}
