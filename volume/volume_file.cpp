#include "volume/volume_file.h"

#include <algorithm>
#include <new>
#include <type_traits>
#include <vector>

VolumeHeader ReadVolumeHeader(const uint8_t* b) {
    VolumeHeader h;
    h.dimX = static_cast<uint16_t>(b[0] | b[1] << 8);
    h.dimY = static_cast<uint16_t>(b[2] | b[3] << 8);
    h.dimZ = static_cast<uint16_t>(b[4] | b[5] << 8);
    return h;
}

std::string CheckVolumeFile(const VolumeHeader& header, uint64_t fileSize) {
    const uint64_t samples = uint64_t{header.dimX} * header.dimY * header.dimZ;
    if (samples * 2 > UINT32_MAX) {
        return "Volume too large: " + std::to_string(header.dimX) + " x " + std::to_string(header.dimY) +
               " x " + std::to_string(header.dimZ) + " samples do not fit in 4 GB";
    }
    if (fileSize < kVolumeHeaderBytes + samples * 2) {
        return "Volume file is shorter than its header says: " + std::to_string(header.dimX) + " x " +
               std::to_string(header.dimY) + " x " + std::to_string(header.dimZ) + " samples need " +
               std::to_string(kVolumeHeaderBytes + samples * 2) + " bytes, the file has " +
               std::to_string(fileSize);
    }
    return {};
}

void ShiftSamples(uint16_t* samples, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        samples[i] = static_cast<uint16_t>(samples[i] << 4);
}

void ShiftSamplesCountingValues(uint16_t* samples, uint32_t count, uint32_t* valueCounts) {
    // Neighbouring samples mostly share a value, so four interleaved tables
    // keep each increment from waiting for the one before.
    std::vector<uint32_t> partial(size_t{kSampleValues} * 4, 0);
    uint32_t* p0 = partial.data();
    uint32_t* p1 = p0 + kSampleValues;
    uint32_t* p2 = p1 + kSampleValues;
    uint32_t* p3 = p2 + kSampleValues;
    uint32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const uint32_t v0 = samples[i] & 0x0FFFu, v1 = samples[i + 1] & 0x0FFFu;
        const uint32_t v2 = samples[i + 2] & 0x0FFFu, v3 = samples[i + 3] & 0x0FFFu;
        ++p0[v0];
        ++p1[v1];
        ++p2[v2];
        ++p3[v3];
        samples[i] = static_cast<uint16_t>(v0 << 4);
        samples[i + 1] = static_cast<uint16_t>(v1 << 4);
        samples[i + 2] = static_cast<uint16_t>(v2 << 4);
        samples[i + 3] = static_cast<uint16_t>(v3 << 4);
    }
    for (; i < count; ++i) {
        const uint32_t v = samples[i] & 0x0FFFu;
        ++p0[v];
        samples[i] = static_cast<uint16_t>(v << 4);
    }
    for (uint32_t v = 0; v < kSampleValues; ++v)
        valueCounts[v] = p0[v] + p1[v] + p2[v] + p3[v];
}

bool FitSamplesToTwelveBits(uint16_t* samples, uint32_t count, uint16_t* low, uint16_t* high) {
    uint16_t lo = count ? samples[0] : 0, hi = lo;
    for (uint32_t i = 0; i < count; ++i) {
        lo = std::min(lo, samples[i]);
        hi = std::max(hi, samples[i]);
    }
    *low = lo;
    *high = hi;
    if (hi <= 0x0FFF)
        return false;
    // A constant file maps to 0, as a constant scan does.
    std::vector<uint16_t> table(size_t{hi} + 1, 0);
    const double scale = hi > lo ? 4095.0 / (hi - lo) : 0.0;
    for (uint32_t v = lo; v <= hi; ++v)
        table[v] = static_cast<uint16_t>((v - lo) * scale + 0.5);
    for (uint32_t i = 0; i < count; ++i)
        samples[i] = table[samples[i]];
    return true;
}

void ReductionFactors(const uint32_t dims[3], uint32_t limit, uint32_t factors[3]) {
    for (int axis = 0; axis < 3; ++axis)
        factors[axis] = (limit == 0 || dims[axis] <= limit) ? 1 : (dims[axis] + limit - 1) / limit;
}

namespace {

// BoxAverage by 2 along every axis (the gradient's halved grid): the boxes
// inside the grid in a loop of eight fixed reads, which the compiler
// vectorises; those at an odd grid's far faces take only the samples there.
void HalveSamples(const uint16_t* samples, const uint32_t dims[3], const uint32_t halvedDims[3],
                  uint16_t* halved) {
    const size_t rowPitch = dims[0], slicePitch = size_t{dims[0]} * dims[1];
    const uint32_t wholeX = dims[0] / 2;
    for (uint32_t z = 0; z < halvedDims[2]; ++z) {
        const bool twoPlanes = 2 * z + 1 < dims[2];
        for (uint32_t y = 0; y < halvedDims[1]; ++y) {
            const bool twoRows = 2 * y + 1 < dims[1];
            // The box's rows within the grid: four, or fewer at an odd face.
            const uint16_t* rows[4];
            uint32_t rowCount = 0;
            for (uint32_t k = 0; k < (twoPlanes ? 2u : 1u); ++k)
                for (uint32_t j = 0; j < (twoRows ? 2u : 1u); ++j)
                    rows[rowCount++] = samples + (2 * z + k) * slicePitch + (2 * y + j) * rowPitch;
            uint16_t* out = halved + (size_t{z} * halvedDims[1] + y) * halvedDims[0];
            if (rowCount == 4) {
                for (uint32_t x = 0; x < wholeX; ++x) {
                    uint32_t sum = 0;
                    for (const uint16_t* row : rows)
                        sum += (row[2 * x] & 0x0FFFu) + (row[2 * x + 1] & 0x0FFFu);
                    out[x] = static_cast<uint16_t>((sum + 4) / 8);
                }
            } else {
                const uint32_t n = 2 * rowCount;
                for (uint32_t x = 0; x < wholeX; ++x) {
                    uint32_t sum = 0;
                    for (uint32_t r = 0; r < rowCount; ++r)
                        sum += (rows[r][2 * x] & 0x0FFFu) + (rows[r][2 * x + 1] & 0x0FFFu);
                    out[x] = static_cast<uint16_t>((sum + n / 2) / n);
                }
            }
            if (dims[0] % 2 != 0) {
                uint32_t sum = 0;
                for (uint32_t r = 0; r < rowCount; ++r)
                    sum += rows[r][dims[0] - 1] & 0x0FFFu;
                out[wholeX] = static_cast<uint16_t>((sum + rowCount / 2) / rowCount);
            }
        }
    }
}

}  // namespace

std::unique_ptr<uint16_t[]> BoxAverage(const uint16_t* samples, const uint32_t dims[3],
                                       const uint32_t factors[3], uint32_t reducedDims[3]) {
    for (int axis = 0; axis < 3; ++axis)
        reducedDims[axis] = (dims[axis] + factors[axis] - 1) / factors[axis];
    const size_t count = size_t{reducedDims[0]} * reducedDims[1] * reducedDims[2];
    std::unique_ptr<uint16_t[]> reduced(new (std::nothrow) uint16_t[count > 0 ? count : 1]);
    if (!reduced)
        return reduced;
    const size_t rowPitch = dims[0], slicePitch = size_t{dims[0]} * dims[1];
    if (factors[0] == 2 && factors[1] == 2 && factors[2] == 2) {
        HalveSamples(samples, dims, reducedDims, reduced.get());
        return reduced;
    }
    size_t out = 0;
    for (uint32_t z = 0; z < reducedDims[2]; ++z) {
        const uint32_t z0 = z * factors[2], z1 = std::min(dims[2], z0 + factors[2]);
        for (uint32_t y = 0; y < reducedDims[1]; ++y) {
            const uint32_t y0 = y * factors[1], y1 = std::min(dims[1], y0 + factors[1]);
            for (uint32_t x = 0; x < reducedDims[0]; ++x) {
                const uint32_t x0 = x * factors[0], x1 = std::min(dims[0], x0 + factors[0]);
                uint64_t sum = 0;
                for (uint32_t k = z0; k < z1; ++k)
                    for (uint32_t j = y0; j < y1; ++j) {
                        const uint16_t* row = samples + k * slicePitch + j * rowPitch;
                        for (uint32_t i = x0; i < x1; ++i)
                            sum += row[i] & 0x0FFFu;
                    }
                const uint64_t n = uint64_t{x1 - x0} * (y1 - y0) * (z1 - z0);
                reduced[out++] = static_cast<uint16_t>((sum + n / 2) / n);
            }
        }
    }
    return reduced;
}

bool IsExactVolumeFile(const VolumeHeader& header, uint64_t fileSize) {
    return fileSize == kVolumeHeaderBytes + uint64_t{2} * header.dimX * header.dimY * header.dimZ;
}

uint32_t TexelComponents(uint32_t channels) {
    return channels <= 1 ? 1 : channels == 2 ? 2 : 4;
}

std::unique_ptr<uint16_t[]> ChannelTexels(const VolumeData& volume, uint32_t time, uint32_t shown,
                                          const uint32_t factors[3], uint32_t texelDims[3]) {
    const uint32_t dims[3] = {volume.dimX, volume.dimY, volume.dimZ};
    for (int axis = 0; axis < 3; ++axis)
        texelDims[axis] = (dims[axis] + factors[axis] - 1) / std::max(factors[axis], 1u);
    shown = std::min({shown, volume.ChannelCount(), kMaxShownChannels});
    if (volume.samples == nullptr || time >= volume.timePoints || shown == 0)
        return nullptr;
    const bool reduced = factors[0] > 1 || factors[1] > 1 || factors[2] > 1;
    const uint32_t components = TexelComponents(shown);
    const size_t count = size_t{texelDims[0]} * texelDims[1] * texelDims[2];
    std::unique_ptr<uint16_t[]> texels(new (std::nothrow) uint16_t[count * components]);
    if (!texels)
        return texels;
    if (!reduced) {
        // Every channel's grid into its place in one pass, a loop of fixed
        // reads the compiler vectorises; a component no channel fills reads
        // the first channel's and keeps none of it.
        const uint16_t* grids[4];
        uint16_t masks[4];
        for (uint32_t c = 0; c < 4; ++c) {
            grids[c] = volume.Grid(c < shown ? c : 0, time);
            masks[c] = c < shown ? 0x0FFF : 0;
        }
        const auto interleave = [&](auto perTexel) {
            constexpr uint32_t kComponents = decltype(perTexel)::value;
            uint16_t* out = texels.get();
            for (size_t i = 0; i < count; ++i)
                for (uint32_t c = 0; c < kComponents; ++c)
                    out[i * kComponents + c] = static_cast<uint16_t>((grids[c][i] & masks[c]) << 4);
        };
        if (components == 2)
            interleave(std::integral_constant<uint32_t, 2>{});
        else
            interleave(std::integral_constant<uint32_t, 4>{});
        return texels;
    }
    for (uint32_t c = 0; c < components; ++c) {
        if (c >= shown) {
            for (size_t i = 0; i < count; ++i)
                texels[i * components + c] = 0;
            continue;
        }
        std::unique_ptr<uint16_t[]> averaged;
        const uint16_t* grid = volume.Grid(c, time);
        if (reduced) {
            uint32_t reducedDims[3];
            averaged = BoxAverage(grid, dims, factors, reducedDims);
            if (!averaged)
                return nullptr;
            grid = averaged.get();
        }
        for (size_t i = 0; i < count; ++i)
            texels[i * components + c] = static_cast<uint16_t>((grid[i] & 0x0FFFu) << 4);
    }
    return texels;
}
