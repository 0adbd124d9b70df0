#include "volume/gradient.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "volume/volume_file.h"

namespace {

// Below this many samples a second thread costs more than it saves.
constexpr uint64_t kSamplesPerThread = uint64_t{1} << 20;

// The Sobel kernel sums 16 weights around a difference across two voxels.
constexpr float kSobelScale = 1.0f / 32.0f;

struct GradientJob {
    const uint16_t* samples;  // from plane firstSampleZ on
    uint32_t firstSampleZ;
    uint32_t firstZ;  // the first plane of `gradient`
    uint32_t width, height, depth;
    // Per axis: the kernel's sum to the physical gradient in full ranges per
    // unit length.
    float toPhysical[3];
    // The physical magnitude to the magnitude's scale (1 at full scale).
    float toMagnitude;
    uint8_t* gradient;
};

uint8_t VectorByte(float component) {
    return static_cast<uint8_t>(128.5f + 127.0f * component);  // rounded; 0 stays exactly 128
}

float Fade(float magnitude) {
    const float t = std::clamp((magnitude - kFlatBelow) / (kShadedAbove - kFlatBelow), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// One plane z of the gradient. The rows below are padded by one sample at
// each end (the edge repeated), so that the x pass runs without a branch and
// the compiler can vectorise it.
void GradientPlane(const GradientJob& job, uint32_t z, std::vector<int32_t>& smoothYA,
                   std::vector<int32_t>& diffYA, std::vector<int32_t>& smoothYB) {
    const uint32_t w = job.width, h = job.height;
    const size_t plane = size_t{w} * h;
    const auto samplePlane = [&](uint32_t sampleZ) {
        return job.samples + plane * (sampleZ - job.firstSampleZ);
    };
    const uint16_t* below = samplePlane(z > 0 ? z - 1 : 0);
    const uint16_t* here = samplePlane(z);
    const uint16_t* above = samplePlane(std::min(z + 1, job.depth - 1));
    for (uint32_t y = 0; y < h; ++y) {
        const size_t rows[3] = {size_t{y > 0 ? y - 1 : 0} * w, size_t{y} * w,
                                size_t{std::min(y + 1, h - 1)} * w};
        int32_t* sya = smoothYA.data() + 1;
        int32_t* dya = diffYA.data() + 1;
        int32_t* syb = smoothYB.data() + 1;
        for (uint32_t x = 0; x < w; ++x) {
            // Smoothed (A) and differenced (B) across z, for the rows y-1, y, y+1.
            const int32_t a0 = below[rows[0] + x] + 2 * here[rows[0] + x] + above[rows[0] + x];
            const int32_t a1 = below[rows[1] + x] + 2 * here[rows[1] + x] + above[rows[1] + x];
            const int32_t a2 = below[rows[2] + x] + 2 * here[rows[2] + x] + above[rows[2] + x];
            const int32_t b0 = above[rows[0] + x] - below[rows[0] + x];
            const int32_t b1 = above[rows[1] + x] - below[rows[1] + x];
            const int32_t b2 = above[rows[2] + x] - below[rows[2] + x];
            sya[x] = a0 + 2 * a1 + a2;
            dya[x] = a2 - a0;
            syb[x] = b0 + 2 * b1 + b2;
        }
        sya[-1] = sya[0];
        dya[-1] = dya[0];
        syb[-1] = syb[0];
        sya[w] = sya[w - 1];
        dya[w] = dya[w - 1];
        syb[w] = syb[w - 1];
        uint8_t* out = job.gradient + (plane * (z - job.firstZ) + size_t{y} * w) * kGradientBytesPerSample;
        // Padded: sample x lies at x + 1, its neighbours at x and x + 2.
        const int32_t* paddedSya = smoothYA.data();
        const int32_t* paddedDya = diffYA.data();
        const int32_t* paddedSyb = smoothYB.data();
        for (uint32_t x = 0; x < w; ++x) {
            const float gx = static_cast<float>(paddedSya[x + 2] - paddedSya[x]) * job.toPhysical[0];
            const float gy = static_cast<float>(paddedDya[x] + 2 * paddedDya[x + 1] + paddedDya[x + 2]) *
                             job.toPhysical[1];
            const float gz = static_cast<float>(paddedSyb[x] + 2 * paddedSyb[x + 1] + paddedSyb[x + 2]) *
                             job.toPhysical[2];
            const float length = std::sqrt(gx * gx + gy * gy + gz * gz);
            const float magnitude = std::min(length * job.toMagnitude, 1.0f);
            const float scale = length > 0.0f ? Fade(magnitude) / length : 0.0f;
            out[4 * x + 0] = VectorByte(gx * scale);
            out[4 * x + 1] = VectorByte(gy * scale);
            out[4 * x + 2] = VectorByte(gz * scale);
            out[4 * x + 3] = static_cast<uint8_t>(magnitude * 255.0f + 0.5f);
        }
    }
}

void GradientPlanes(const GradientJob& job, uint32_t firstZ, uint32_t endZ) {
    std::vector<int32_t> smoothYA(job.width + 2), diffYA(job.width + 2), smoothYB(job.width + 2);
    for (uint32_t z = firstZ; z < endZ; ++z)
        GradientPlane(job, z, smoothYA, diffYA, smoothYB);
}

}  // namespace

void ComputeGradient(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                     uint8_t* gradient) {
    ComputeGradientPlanes(samples, 0, dims, spacing, 0, dims[2], gradient);
}

void ComputeGradientPlanes(const uint16_t* samples, uint32_t firstSampleZ, const uint32_t dims[3],
                           const float spacing[3], uint32_t firstZ, uint32_t endZ, uint8_t* gradient) {
    if (dims[0] == 0 || dims[1] == 0 || dims[2] == 0 || endZ <= firstZ)
        return;
    GradientJob job;
    job.samples = samples;
    job.firstSampleZ = firstSampleZ;
    job.firstZ = firstZ;
    job.width = dims[0];
    job.height = dims[1];
    job.depth = dims[2];
    job.gradient = gradient;
    constexpr float kFullRange = 4095.0f;
    for (int axis = 0; axis < 3; ++axis)
        job.toPhysical[axis] = kSobelScale / (kFullRange * spacing[axis]);
    // Per voxel of the finest spacing, so that a volume file (unit voxels)
    // and a scan in millimetres fade alike.
    const float finest = std::min({spacing[0], spacing[1], spacing[2]});
    job.toMagnitude = finest / kGradientFullScale;

    const uint32_t planes = endZ - firstZ;
    const uint64_t count = uint64_t{dims[0]} * dims[1] * planes;
    const uint32_t cores = std::max(1u, std::thread::hardware_concurrency());
    const uint32_t threads = static_cast<uint32_t>(
        std::clamp<uint64_t>(count / kSamplesPerThread, 1, std::min<uint64_t>(cores, planes)));
    const auto planeOf = [&](uint32_t t) {
        return firstZ + static_cast<uint32_t>(uint64_t{planes} * t / threads);
    };
    std::vector<std::thread> workers;
    for (uint32_t t = 1; t < threads; ++t) {
        const uint32_t first = planeOf(t), end = planeOf(t + 1);
        try {
            workers.emplace_back([&job, first, end] { GradientPlanes(job, first, end); });
        } catch (const std::system_error&) {
            GradientPlanes(job, first, end);  // no thread to be had: this one does it
        }
    }
    GradientPlanes(job, firstZ, planeOf(1));
    for (std::thread& worker : workers)
        worker.join();
}

bool ComputeGradientSlabs(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                          uint64_t slabTexels, const GradientSlab& slab) {
    uint32_t gradientDims[3], factors[3];
    GradientGrid(dims, gradientDims, factors);
    if (gradientDims[0] == 0 || gradientDims[1] == 0 || gradientDims[2] == 0)
        return true;
    const float gradientSpacing[3] = {spacing[0] * factors[0], spacing[1] * factors[1],
                                      spacing[2] * factors[2]};
    const uint64_t planeTexels = uint64_t{gradientDims[0]} * gradientDims[1];
    const uint32_t slabPlanes =
        static_cast<uint32_t>(std::clamp<uint64_t>(slabTexels / planeTexels, 1, gradientDims[2]));
    std::unique_ptr<uint8_t[]> texels(new (std::nothrow)
                                          uint8_t[planeTexels * slabPlanes * kGradientBytesPerSample]);
    if (!texels)
        return false;
    const uint64_t samplePlane = uint64_t{dims[0]} * dims[1];
    for (uint32_t firstZ = 0; firstZ < gradientDims[2]; firstZ += slabPlanes) {
        const uint32_t endZ = std::min(gradientDims[2], firstZ + slabPlanes);
        if (factors[2] == 1) {
            ComputeGradientPlanes(samples, 0, gradientDims, gradientSpacing, firstZ, endZ, texels.get());
        } else {
            // The halved planes the kernel reaches, from the boxes of full
            // planes under them: the same planes as halving the whole grid.
            const uint32_t firstHalved = firstZ > 0 ? firstZ - 1 : 0;
            const uint32_t endHalved = std::min(gradientDims[2], endZ + 1);
            const uint32_t firstFull = firstHalved * factors[2];
            const uint32_t part[3] = {dims[0], dims[1],
                                      std::min(dims[2], endHalved * factors[2]) - firstFull};
            uint32_t halvedDims[3];
            const std::unique_ptr<uint16_t[]> halved =
                BoxAverage(samples + samplePlane * firstFull, part, factors, halvedDims);
            if (!halved)
                return false;
            ComputeGradientPlanes(halved.get(), firstHalved, gradientDims, gradientSpacing, firstZ, endZ,
                                  texels.get());
        }
        slab(firstZ, endZ - firstZ, texels.get());
    }
    return true;
}

void GradientGrid(const uint32_t dims[3], uint32_t gradientDims[3], uint32_t factors[3]) {
    const bool halve = uint64_t{dims[0]} * dims[1] * dims[2] > kFullGradientSamples;
    for (int axis = 0; axis < 3; ++axis) {
        factors[axis] = halve ? 2 : 1;
        gradientDims[axis] = (dims[axis] + factors[axis] - 1) / factors[axis];
    }
}

GradientTexel DecodeGradient(const uint8_t* texel) {
    auto component = [](uint8_t byte) { return (byte - 128.0f) / 127.0f; };
    return {component(texel[0]), component(texel[1]), component(texel[2]), texel[3] / 255.0f};
}
