// The volume layer drawn on the CPU, for devices that rasterise in software
// (llvmpipe, softpipe): there a slice pass pays a scalar shader for every
// fragment of every slice, while rays that know the volume skip what cannot
// be seen and stop where nothing behind can show. The rays take the slice
// pass's very samples (the same planes, filtering, lookup, opacity
// correction and blend), so the layer holds the same picture within one
// 8-bit level, and is composed exactly as the slices' layer is. Plain
// computation over plain data: no device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes of one gradient texel: four 8-bit channels.
inline constexpr uint32_t kGradientTexelBytes = 4;

#include "platform/d3dx/d3dx_math.h"
#include "render/empty_space.h"
#include "render/volume_mode.h"

// The volume as the slice pass's textures hold it, lent.
struct SoftwareVolume {
    // The 3D texture's texels: 12-bit samples shifted to 16 bits, x fastest;
    // with several channels channel c in component c of `components`.
    const uint16_t* texels = nullptr;
    uint32_t dims[3] = {0, 0, 0};
    uint32_t channels = 1, components = 1;
    // The gradient texture's texels (volume/gradient.h, R8G8B8A8, x fastest,
    // a plane per z) on its own grid; null: nothing to shade with.
    // With several channels, one grid a channel, one after another.
    const uint8_t* gradient = nullptr;
    uint32_t gradientDims[3] = {0, 0, 0};
    float halfExtents[3] = {0, 0, 0};
    // The measured bricks (empty_space.h); empty: nothing is skipped by brick.
    // With several channels channel 0's, and those of channels 1.. here: a
    // brick is skipped where every channel is clear.
    const VolumeBricks* bricks = nullptr;
    const std::vector<VolumeBricks>* moreBricks = nullptr;
};

// The instructions the rays run on: the fastest the machine has, or one by
// name (a kernel the machine lacks draws as the scalar one does).
enum class SoftwareKernel { Fastest, Scalar, Avx2, Avx512 };
bool SoftwareKernelRuns(SoftwareKernel kernel);

// One frame's view and what it draws.
struct SoftwareFrame {
    // Row vectors, as the program builds them (not the shaders' transposes).
    d3dx::Matrix view{}, projection{};
    // The viewport, from the layer's top left.
    uint32_t width = 0, height = 0;
    // The slice planes' view depths, farthest first (the slice geometry's),
    // and every step-th of them drawn, farthest included (a coarse frame).
    const float* sliceDepth = nullptr;
    size_t sliceCount = 0;
    uint32_t sliceStep = 1;
    // The part of the box drawn, as fractions per axis.
    float cropLow[3] = {0, 0, 0}, cropHigh[3] = {1, 1, 1};
    VolumeMode mode = VolumeMode::Composite;
    bool shading = false;  // shaded where the volume has a gradient
    // The lookup texture: texelCount RGBA floats a row, a row a channel
    // (lookupRows of them; several are mixed as the channels' shaders mix).
    const float* lookup = nullptr;
    uint32_t lookupTexels = 0;
    uint32_t lookupRows = 1;
    bool skipClearSpace = true;
    uint32_t threads = 0;                      // 0: every core
    float background[3] = {0.0f, 0.0f, 0.5f};  // what the composite lies over
    SoftwareKernel kernel = SoftwareKernel::Fastest;
    // Opaque planes of the samples (slice_planes.h): the
    // plane on axis j lies at texture position planeAt[j] (a voxel layer's
    // centre) and shows, inside the crop, the layer's samples filtered
    // within it (bilinear) through the grey window [greyLow, greyHigh] of the
    // 12 bits. A composite ray takes no sample from its nearest plane on,
    // and its composite lies over the plane's grey instead of the
    // background. The extremes (one channel) take every sample along the
    // ray, and the plane lies behind their colour instead of the
    // background: its grey in green, blue off the starting value.
    bool planeShown[3] = {false, false, false};
    float planeAt[3] = {0.5f, 0.5f, 0.5f};
    float greyLow = 0.0f, greyHigh = 4095.0f;
    // With several channels (composite) a plane adds each channel's grey in
    // its colour here (black: hidden).
    float planeChannelColour[4][3] = {};
};

// Where a composite ray stops: the light still to come from behind is then
// at most 1 - kStopOpacity of full scale per channel, half an 8-bit level at
// the very worst. (At 0.99 that bound is 2.55 levels, and dense clouds of
// colour were measured 2-3 levels off the slices at tens of pixels.)
inline constexpr float kStopOpacity = 0.998f;

// Draws the layer's picture into `rgba` (4 x 16 bits per pixel, unsigned
// normalised like the layer, `rowPixels` pixels a row): the viewport's pixels
// only, the rest untouched. Composite: colour over the frame's background,
// alpha as the slices' blend leaves it. Maximum and minimum: the
// extreme density in red, green and blue the starting value (a plane's grey
// and mark where one is), alpha full where any sample covered the pixel,
// the slices' starting values elsewhere; with several
// channels each one's in its component, a step off the starting value as
// the channels' shaders write it.
void DrawSoftwareVolume(const SoftwareVolume& volume, const SoftwareFrame& frame, uint16_t* rgba,
                        uint32_t rowPixels);

// Which pass draws the volume layer: chosen by hand, or by the device.
enum class VolumePassChoice { Automatic, Slices, Cpu };
// "slices" or "cpu"; false for anything else.
bool VolumePassNamed(const char* name, VolumePassChoice* choice);
// Whether the CPU draws the layer: as chosen by hand, else as the
// environment's TAMLO_VOLUME_PASS says (`environment`, null when unset;
// anything but slices or cpu counts as unset), else exactly when the
// adapter is a software rasteriser (its name holds llvmpipe or softpipe).
bool CpuDrawsVolumeLayer(VolumePassChoice byHand, const char* environment, const char* adapter);
