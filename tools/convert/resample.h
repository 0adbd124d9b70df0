// Resampling a scan onto cubic voxels, for the volume file, which has no
// spacing: the smallest spacing of the three becomes the new voxel's edge.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct IsotropicGrid {
    uint32_t dims[3] = {0, 0, 0};
    double spacing = 1;  // the edge of the new cubic voxel
};

// The grid covering the same physical box with cubic voxels: each edge
// round(dim * spacing / smallest spacing), at least 1.
IsotropicGrid IsotropicGridFor(const uint32_t dims[3], const double spacing[3]);

// The same, with voxels coarsened just enough that the grid holds at most
// `mostSamples` and `mostPerAxis` along each axis (a scan of 0.5 x 0.5 x
// 500 mm voxels would otherwise ask for tens of gigabytes).
IsotropicGrid CappedIsotropicGrid(const uint32_t dims[3], const double spacing[3], uint64_t mostSamples,
                                  uint32_t mostPerAxis);

// Trilinear resampling of 12-bit samples (x fastest) at the centres of the
// new voxels. `rowDone` is called after each output slice (may be null).
std::unique_ptr<uint16_t[]> ResampleIsotropic(const uint16_t* samples, const uint32_t dims[3],
                                              const double spacing[3], const IsotropicGrid& grid,
                                              void (*sliceDone)(uint32_t done, uint32_t total, void* context),
                                              void* context);

// The volume file: u16 x, y, z then the samples, little-endian. Replaced
// only whole, never over a device, pipe, folder or read-only file (see
// ReplaceFileAtomically). Empty on success, else the reason.
std::string WriteVolumeFile(const std::string& path, const uint32_t dims[3], const uint16_t* samples);
