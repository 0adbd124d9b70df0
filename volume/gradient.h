// The volume's gradient for shading, worked out once at load on the CPU: per
// sample the normal, shortened by how much the sample is to be shaded, and
// the gradient's magnitude, 8 bits each. The pixel stage reads it with one
// more fetch instead of differencing six neighbours per sample (a third of
// the cost on a CPU rasteriser), and the fade below costs it nothing. No
// device.
#pragma once

#include <cstdint>
#include <functional>

// Bytes per sample of the gradient: x, y, z of the shading vector (the unit
// gradient times the fade, below) as 128 + 127 x (1..255; 128: none), then
// the magnitude.
inline constexpr uint32_t kGradientBytesPerSample = 4;

// The magnitude byte is 255 at this change of the sample's full range per
// voxel of the finest spacing (and above). Edges between tissues change by a
// tenth of the range or more over a voxel or two; scanner noise, after the
// smoothing kernel, by well under a hundredth.
inline constexpr float kGradientFullScale = 0.125f;

// Where the magnitude (0..1, the byte's scale) lies below the first value a
// sample keeps its flat colour, above the second it is fully shaded, with a
// smooth step between: noise in flat regions stays smooth instead of turning
// to grain. (Noise of 1% of the range gives about 0.04 after the smoothing
// kernel; an edge between tissues 0.2 and more.)
inline constexpr float kFlatBelow = 0.03f;
inline constexpr float kShadedAbove = 0.15f;

// Above this many samples the gradient is worked out on the grid halved
// along each axis (2 x 2 x 2 boxes averaged, volume_file.h). Measured on
// llvmpipe with 2 cores: memory fresh to a process costs about 4 ms per MB
// to touch, so a full 256^3 gradient (64 MB here, 64 MB more in the driver)
// would cost twice the load of its volume; halved it costs a third. The
// smoothing kernel already spans three voxels, so the halved normals lose
// little.
inline constexpr uint64_t kFullGradientSamples = uint64_t{1} << 22;

// The gradient texture's grid for a volume's: the same, or halved (rounded
// up) along each axis above kFullGradientSamples. `factors` receives 1 or 2.
void GradientGrid(const uint32_t dims[3], uint32_t gradientDims[3], uint32_t factors[3]);

// Fills `gradient` (kGradientBytesPerSample per sample, x fastest) for 12-bit
// samples on a dims[0] x dims[1] x dims[2] grid. The derivative is the 3 x 3 x
// 3 Sobel kernel (a central difference along one axis, smoothed 1-2-1 across
// the other two), which tames speckle; the edges repeat their outer samples,
// as the texture's clamped addressing does. `spacing` (physical size of a
// voxel per axis) makes the gradient that of the box's physical frame: a scan
// of 0.7 x 0.7 x 2.5 mm voxels is not lit as if its voxels were cubes. Runs on
// every core.
void ComputeGradient(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                     uint8_t* gradient);

// The planes [firstZ, endZ) of that gradient into `gradient` (planes one
// after another), from `samples` holding the planes from `firstSampleZ` on,
// as far as the kernel reaches (firstZ - 1 to endZ, within the grid).
void ComputeGradientPlanes(const uint16_t* samples, uint32_t firstSampleZ, const uint32_t dims[3],
                           const float spacing[3], uint32_t firstZ, uint32_t endZ, uint8_t* gradient);

// The gradient of a volume's samples on GradientGrid's grid (halved by box
// averages where it says so), worked out a slab of whole planes, about
// `slabTexels` texels, at a time: `slab` takes each as it is made (its first
// plane, its plane count, its texels, valid until it returns). Only a slab,
// and for a halved grid the halved planes under it, are held at once, so
// that the gradient costs no memory but the device's copy. False when even a
// slab's memory cannot be had.
inline constexpr uint64_t kGradientSlabTexels = uint64_t{1} << 22;
using GradientSlab = std::function<void(uint32_t firstZ, uint32_t planes, const uint8_t* texels)>;
bool ComputeGradientSlabs(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                          uint64_t slabTexels, const GradientSlab& slab);

// The shading vector (-1..1 per axis; its length the fade) and magnitude
// (0..1) one gradient texel holds.
struct GradientTexel {
    float x, y, z, magnitude;
};
GradientTexel DecodeGradient(const uint8_t* texel);
