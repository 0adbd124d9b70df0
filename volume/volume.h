// The loaded volume: the volume file, its samples, the 3D texture and view,
// and (filled by the histogram) the histogram image.
//
// The file: little-endian u16 dimX, dimY, dimZ, then dimX * dimY * dimZ u16
// samples, x fastest; bytes after the last sample are ignored. Samples carry
// 12 bits and are shifted left by 4 to fill a 16-bit normalised texture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

class CVolume {
  public:
    ~CVolume();

    // Reads the file into the samples and a 3D texture with its view. A file
    // that cannot be read, is short, or is too large is refused before the
    // current volume is touched. False after one message box.
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
};

extern CVolume Volume;
