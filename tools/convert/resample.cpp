#include "tools/convert/resample.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/files/file_replace.h"

IsotropicGrid IsotropicGridFor(const uint32_t dims[3], const double spacing[3]) {
    IsotropicGrid grid;
    grid.spacing = std::min({spacing[0], spacing[1], spacing[2]});
    for (int axis = 0; axis < 3; ++axis) {
        const double cells = std::round(dims[axis] * spacing[axis] / grid.spacing);
        grid.dims[axis] = static_cast<uint32_t>(std::clamp(cells, 1.0, 4294967295.0));
    }
    return grid;
}

IsotropicGrid CappedIsotropicGrid(const uint32_t dims[3], const double spacing[3], uint64_t mostSamples,
                                  uint32_t mostPerAxis) {
    IsotropicGrid grid = IsotropicGridFor(dims, spacing);
    // Counted unclamped: a clamped edge would understate the excess.
    long double edges[3];
    const auto measure = [&] {
        for (int axis = 0; axis < 3; ++axis)
            edges[axis] = std::max(
                1.0L, std::round(static_cast<long double>(dims[axis]) * spacing[axis] / grid.spacing));
    };
    measure();
    const long double longest = std::max({edges[0], edges[1], edges[2]});
    if (longest > mostPerAxis) {
        grid.spacing = static_cast<double>(grid.spacing * longest / mostPerAxis) * 1.0001;
        measure();
    }
    // Coarser voxels by the cube root of the excess; an axis already one
    // voxel thick cannot shrink, so once more until it fits.
    while (edges[0] * edges[1] * edges[2] > static_cast<long double>(mostSamples)) {
        grid.spacing *= static_cast<double>(std::cbrt(edges[0] * edges[1] * edges[2] / mostSamples)) * 1.001;
        measure();
    }
    for (int axis = 0; axis < 3; ++axis)
        grid.dims[axis] = static_cast<uint32_t>(edges[axis]);
    return grid;
}

namespace {

// Where the centre of new voxel i falls in old voxel coordinates, as the
// lower neighbour and the weight of the upper one.
struct Tap {
    uint32_t low;
    float weight;
};

std::vector<Tap> Taps(uint32_t oldCount, double oldSpacing, uint32_t newCount, double newSpacing) {
    std::vector<Tap> taps(newCount);
    for (uint32_t i = 0; i < newCount; ++i) {
        const double position = std::clamp((i + 0.5) * newSpacing / oldSpacing - 0.5, 0.0, oldCount - 1.0);
        const uint32_t low = std::min(static_cast<uint32_t>(position), oldCount > 1 ? oldCount - 2 : 0);
        taps[i] = {low, oldCount > 1 ? static_cast<float>(position - low) : 0.0f};
    }
    return taps;
}

}  // namespace

std::unique_ptr<uint16_t[]> ResampleIsotropic(const uint16_t* samples, const uint32_t dims[3],
                                              const double spacing[3], const IsotropicGrid& grid,
                                              void (*sliceDone)(uint32_t, uint32_t, void*), void* context) {
    const size_t count = size_t{grid.dims[0]} * grid.dims[1] * grid.dims[2];
    std::unique_ptr<uint16_t[]> out(new (std::nothrow) uint16_t[std::max<size_t>(count, 1)]);
    if (!out)
        return out;
    const std::vector<Tap> tx = Taps(dims[0], spacing[0], grid.dims[0], grid.spacing);
    const std::vector<Tap> ty = Taps(dims[1], spacing[1], grid.dims[1], grid.spacing);
    const std::vector<Tap> tz = Taps(dims[2], spacing[2], grid.dims[2], grid.spacing);
    const size_t row = dims[0], slice = size_t{dims[0]} * dims[1];
    const size_t stepX = dims[0] > 1, stepY = dims[1] > 1 ? row : 0, stepZ = dims[2] > 1 ? slice : 0;
    size_t o = 0;
    for (uint32_t z = 0; z < grid.dims[2]; ++z) {
        for (uint32_t y = 0; y < grid.dims[1]; ++y) {
            for (uint32_t x = 0; x < grid.dims[0]; ++x) {
                const uint16_t* p = samples + tz[z].low * slice + ty[y].low * row + tx[x].low;
                const float wx = tx[x].weight, wy = ty[y].weight, wz = tz[z].weight;
                auto lerp = [](float a, float b, float w) { return a + (b - a) * w; };
                const float c00 = lerp(p[0], p[stepX], wx);
                const float c10 = lerp(p[stepY], p[stepY + stepX], wx);
                const float c01 = lerp(p[stepZ], p[stepZ + stepX], wx);
                const float c11 = lerp(p[stepZ + stepY], p[stepZ + stepY + stepX], wx);
                const float value = lerp(lerp(c00, c10, wy), lerp(c01, c11, wy), wz);
                out[o++] = static_cast<uint16_t>(std::min(4095.0f, value + 0.5f));
            }
        }
        if (sliceDone)
            sliceDone(z + 1, grid.dims[2], context);
    }
    return out;
}

std::string WriteVolumeFile(const std::string& path, const uint32_t dims[3], const uint16_t* samples) {
    for (int axis = 0; axis < 3; ++axis) {
        if (dims[axis] == 0 || dims[axis] > 65535)
            return "a volume file holds at most 65535 samples along each axis, this grid has " +
                   std::to_string(dims[axis]);
    }
    uint8_t header[6];
    for (int axis = 0; axis < 3; ++axis) {
        header[2 * axis] = static_cast<uint8_t>(dims[axis] & 0xFF);
        header[2 * axis + 1] = static_cast<uint8_t>(dims[axis] >> 8);
    }
    // Little-endian on every machine we build for; the samples go as they are.
    const size_t count = size_t{dims[0]} * dims[1] * dims[2];
    std::string why;
    if (!ReplaceFileAtomically(path, {{header, sizeof(header)}, {samples, uint64_t{count} * 2}}, &why))
        return "cannot write " + path + ": " + why;
    return {};
}
