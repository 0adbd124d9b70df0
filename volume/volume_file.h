// The volume file as plain data: its header, the checks made before anything
// is allocated, and the passes over its samples (shift to 16 bits, fit to 12
// bits, reduction for a device). No device.
//
// The file: little-endian u16 dimX, dimY, dimZ, then dimX * dimY * dimZ u16
// samples, x fastest; bytes after the last sample are ignored. Samples carry
// 12 bits and are shifted left by 4 to fill a 16-bit normalised texture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "volume/volume_data.h"

struct VolumeHeader {
    uint16_t dimX = 0, dimY = 0, dimZ = 0;
};
inline constexpr size_t kVolumeHeaderBytes = 6;

// Checks a volume file of `fileSize` bytes with this header before anything
// is allocated: the sample count and the byte count must fit 32 bits and the
// file must hold every sample. Empty when sound, else the problem in words.
std::string CheckVolumeFile(const VolumeHeader& header, uint64_t fileSize);

// The header from the first six bytes (little-endian).
VolumeHeader ReadVolumeHeader(const uint8_t* bytes);

// Shifts 12-bit samples into the top of 16 bits, in place.
void ShiftSamples(uint16_t* samples, uint32_t count);

// The same shift, counting how often each 12-bit value (the sample before
// the shift, bits above 11 dropped) occurs: `valueCounts` has 4096 entries.
void ShiftSamplesCountingValues(uint16_t* samples, uint32_t count, uint32_t* valueCounts);

inline constexpr uint32_t kSampleValues = 4096;

// A volume file whose samples use more than 12 bits would lose the top ones
// in the shift (0x1000 would show as 0): their range [low, high] is mapped
// onto 0..4095 in place instead, rounded as for scans. False, with nothing
// changed, when every sample fits in 12 bits.
bool FitSamplesToTwelveBits(uint16_t* samples, uint32_t count, uint16_t* low, uint16_t* high);

// A grid too wide for the device: the smallest whole factor per axis that
// brings each edge to `limit` or below (1 for an edge that fits).
void ReductionFactors(const uint32_t dims[3], uint32_t limit, uint32_t factors[3]);

// Averages boxes of factors[0] x factors[1] x factors[2] 12-bit samples
// (bits above 11 dropped first, the mean rounded); the boxes at the far
// edges hold what is left. `reducedDims` receives the new grid.
std::unique_ptr<uint16_t[]> BoxAverage(const uint16_t* samples, const uint32_t dims[3],
                                       const uint32_t factors[3], uint32_t reducedDims[3]);

// A file that is a volume file by its size alone: exactly the header and
// the samples it promises. Anything else may be a scan (volume/scan_import.h).
bool IsExactVolumeFile(const VolumeHeader& header, uint64_t fileSize);

// Channels the device draws together, at most; a volume's further ones are
// left out (with a notice).
inline constexpr uint32_t kMaxShownChannels = 4;

// The 16-bit components of a device texel holding `channels` channels: one
// a channel, rounded up to the formats there are (1, 2 or 4).
uint32_t TexelComponents(uint32_t channels);

// The device's texels of time point `time` of `volume`'s first `shown`
// channels (1..kMaxShownChannels): channel c of a sample in component c of
// its texel (TexelComponents(shown) of them, a spare one 0), each grid box
// averaged by `factors` (BoxAverage) and shifted to 16 bits. `texelDims`
// receives the grid. Null when memory gives none. Installing a volume and
// showing another of its time points both make their texture from these.
std::unique_ptr<uint16_t[]> ChannelTexels(const VolumeData& volume, uint32_t time, uint32_t shown,
                                          const uint32_t factors[3], uint32_t texelDims[3]);
