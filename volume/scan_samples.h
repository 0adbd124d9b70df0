// The sample types a scan may store, and the passes over them that every
// reader shares: the value window, the turn to the program's orientation and
// the mapping onto 12 bits. For the readers (scan_import.cpp, scan_nifti2.cpp)
// alone; the rest of the program sees ScanVolume.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "volume/scan_import.h"
#include "volume/scan_mapping.h"

enum class SampleType : uint8_t {
    UInt8,
    Int8,
    UInt16,
    Int16,
    UInt32,
    Int32,
    UInt64,
    Int64,
    Float32,
    Float64
};

const char* SampleTypeName(SampleType type);  // "uint8", "int16", "float32" ...
uint64_t SampleBytes(SampleType type);

// A reader's refusal, with the reason in one line; caught where the read began.
struct ScanFailure {
    std::string text;
};

// Room for `bytes`, asking for huge pages; ScanFailure when there is none.
std::unique_ptr<char[]> AllocateScanBuffer(uint64_t bytes);

// A voxel's sides: each finite and at most kLargestVoxelMillimetres (the
// bound the NIfTI check puts on every size and position: its square must
// fit a float), and none under kSmallestVoxelShare of the longest. A box of
// 4 x 4e-300 x 4 mm is no shape a view can frame, and resampling it onto
// cubic voxels would take gigabytes; 1e300 mm leaves nothing in the view.
// ScanFailure with the sizes otherwise.
constexpr double kLargestVoxelMillimetres = 1e15;
constexpr double kSmallestVoxelShare = 1e-6;
void CheckVoxelSize(const scan_mapping::Grid& grid);

// Chooses the window over `values` (grid order, dims[0] fastest), then
// fills `volume`: its size, spacing, range, window and sample type, and
// `makeRows`, which keeps `values` and turns them to the program's
// orientation and maps them on request. `ctByModality`: the file says it is
// a CT; otherwise the values decide.
//
// `values` may be any memory that lives as long as its last owner: a
// buffer the reader filled, or the file itself mapped.
//
// `values` may hold `channels` x `timePoints` grids, channel by channel: the
// grid of channel c at time point t starts at grid (c * timePoints + t), so
// that a channel's values over all its time points lie together and its
// window is chosen over all of them (the picture does not jump from one
// time point to the next). Each channel gets its own window; only a single
// channel may be taken for a CT. The reader names and colours the channels
// afterwards where its file says.
void FinishScan(SampleType type, std::shared_ptr<const char[]> values, const scan_mapping::Grid& grid,
                const ValueChoice& choice, bool ctByModality, ScanVolume* volume, uint32_t channels = 1,
                uint32_t timePoints = 1);
// Values stored with their channels interleaved (c fastest, then the grid,
// then time, as the ITK readers give them) put channel by channel as
// FinishScan takes them, in `values`' own memory where it can be: the
// first channel in place, the others through one buffer the size of the
// rest. ScanFailure when there is no room for that buffer.
std::unique_ptr<char[]> SeparateChannels(std::unique_ptr<char[]> values, uint64_t valueBytes,
                                         uint64_t gridSamples, uint32_t channels, uint32_t timePoints);
// Makes the whole of `volume`'s samples through its makeRows, which it then
// lets go (and with it the stored values).
void MakeAllSamples(ScanVolume* volume);

// `count` stored values as floats (one DICOM slice into the series' grid),
// or as value * slope + intercept in doubles (a scaled NIfTI-2).
void SamplesToFloat(SampleType type, const void* from, uint64_t count, float* to);
void SamplesToScaledDouble(SampleType type, const void* from, uint64_t count, double slope, double intercept,
                           double* to);

// "256 x 256 x 180".
std::string SizeText(const std::vector<uint64_t>& dims);
