// The volume's gradient for shading, worked out once at load on the CPU: a
// unit normal and a magnitude per sample, 8 bits each, which the pixel stage
// reads with one more fetch instead of differencing six neighbours per
// sample (a third of the cost on a CPU rasteriser). No device.
#pragma once

#include <cstdint>

// Bytes per sample of the gradient: x, y, z of the unit gradient mapped from
// -1..1 onto 0..255 (128: none), then the magnitude.
inline constexpr uint32_t kGradientBytesPerSample = 4;

// The magnitude byte is 255 at this change of the sample's full range per
// voxel of the finest spacing (and above). Edges between tissues change by a
// tenth of the range or more over a voxel or two; scanner noise, after the
// smoothing kernel, by well under a hundredth.
inline constexpr float kGradientFullScale = 0.125f;

// Fills `gradient` (kGradientBytesPerSample per sample, x fastest) for 16-bit
// samples on a dims[0] x dims[1] x dims[2] grid. The derivative is the 3 x 3 x
// 3 Sobel kernel (a central difference along one axis, smoothed 1-2-1 across
// the other two), which tames speckle; the edges repeat their outer samples,
// as the texture's clamped addressing does. `spacing` (physical size of a
// voxel per axis) makes the gradient that of the box's physical frame: a scan
// of 0.7 x 0.7 x 2.5 mm voxels is not lit as if its voxels were cubes. Runs on
// every core.
void ComputeGradient(const uint16_t* samples, const uint32_t dims[3], const float spacing[3],
                     uint8_t* gradient);

// The normal (-1..1 per axis) and magnitude (0..1) one gradient texel holds.
struct GradientTexel {
    float x, y, z, magnitude;
};
GradientTexel DecodeGradient(const uint8_t* texel);
