// The loaded volume: the volume file, its samples, the 3D texture and view,
// and (filled by the histogram) the histogram image.
//
// The file: little-endian u16 dimX, dimY, dimZ, then dimX * dimY * dimZ u16
// samples, x fastest; bytes after the last sample are ignored. Samples carry
// 12 bits and are shifted left by 4 to fill a 16-bit normalised texture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gpu/gpu.h"

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

class CVolume {
  public:
    ~CVolume();

    // Reads the file into the samples and a 3D texture with its view. A file
    // that cannot be read, is short, or is too large is refused before the
    // current volume is touched. False after one message box.
    //
    // A file of exactly a volume file's size is one. Any other file (or a
    // folder) that a scan reader recognises is read as a scan: mapped to 12
    // bits, turned to the program's orientation, its voxel spacing kept.
    // Everything else goes to the volume file's checks and messages. A grid
    // wider than the device allows is reduced by box averaging, and the user
    // told so once. All or nothing: when the new texture or view cannot be
    // made, the shown volume stays as it was.
    bool Load(const char* path);
    void Unload();

    gpu::Texture3D* volumeTexture = nullptr;
    gpu::ShaderResourceView* volumeView = nullptr;
    gpu::Texture2D* histogramTexture = nullptr;
    gpu::ShaderResourceView* histogramView = nullptr;
    uint16_t* voxels = nullptr;
    int32_t dimX = 0, dimY = 0, dimZ = 0;
    uint32_t voxelCount = 0;
    float extentX = 0, extentY = 0, extentZ = 0;
    float halfExtentX = 0, halfExtentY = 0, halfExtentZ = 0;
    uint32_t* histogramBins = nullptr;
    uint32_t maxSample = 0;
    uint32_t maxBinCount = 0;
    uint32_t binCount = 0;

    // Physical size of a voxel along x, y, z: 1, 1, 1 for a volume file; the
    // extents follow dims x spacing, so a scan keeps its proportions.
    float spacingX = 1, spacingY = 1, spacingZ = 1;
    // How many samples hold each 12-bit value (kSampleValues entries), counted
    // during the load: the histogram is built from these, not the samples.
    std::vector<uint32_t> valueCounts;
    // The scan's stored value range before mapping (0..4095 for a volume file).
    double minValue = 0, maxValue = 0;

  private:
    bool LoadVolumeFile(int fd, uint64_t fileSize, const VolumeHeader& header, const char* path);
    bool LoadScan(const char* path);
    // Takes the 12-bit (or unshifted volume file) samples and makes them the
    // loaded volume: reduction for the device, the shift, the texture.
    bool Install(std::unique_ptr<uint16_t[]> samples, const uint32_t dims[3], const float spacing[3],
                 const char* path);
};

extern CVolume Volume;
