// The march of one packet of rays, vectorised: the part of the CPU's volume
// pass that runs per sample, compiled once for each instruction set it is
// offered on (software_volume_avx2.cpp, software_volume_avx512.cpp) and
// chosen at run time. Plain data only here: each kernel's file is built with
// its own instruction set, so nothing inline may be shared with the rest.
#pragma once

#include <cstdint>

namespace software_volume {

// A packet: 4 x 2 pixels, or 4 x 4 where the vectors hold 16 lanes.
inline constexpr int kMostLanes = 16;
inline constexpr int kMostChannels = 4;

// What every packet of a frame shares.
struct KernelPass {
    // The slice planes' view depths, farthest first, and every step-th drawn.
    const float* sliceDepth = nullptr;
    int32_t sliceCount = 0, sliceStep = 1;
    float cropLow[3] = {0, 0, 0}, cropHigh[3] = {1, 1, 1};
    int32_t mode = 0;  // 0 composite, 1 maximum, 2 minimum
    bool shaded = false;
    // (4096 + 1) RGBA entries, one per 12-bit value, opacity corrected.
    const float* lookup = nullptr;
    // 16-bit texels, x fastest; fewer than 2^31 values, at least 2 a row;
    // `components` values a texel, channel c in the c-th (with several
    // channels 2 or 4 of them). Strides in values.
    const uint16_t* texels = nullptr;
    int32_t dims[3] = {0, 0, 0};
    int32_t rowStride = 0, planeStride = 0;
    int32_t channels = 1, components = 1;
    // With several channels, each one's lookup as `lookup` but uncorrected
    // and its gradient's texels; the layers a plane stands for (the mix's
    // opacity correction is 1 - (1 - alpha)^layers).
    const float* channelLookup[kMostChannels] = {};
    const uint8_t* channelGradient[kMostChannels] = {};
    float layers = 1;
    // The entries a sample can be seen between: one from entry e (which
    // blends e and e + 1) is clear unless seenFirst <= e <= seenLast. For
    // `lookup`, then for each channel's.
    int32_t seenFirst = 0, seenLast = 4096;
    int32_t channelSeenFirst[kMostChannels] = {0, 0, 0, 0},
            channelSeenLast[kMostChannels] = {4096, 4096, 4096, 4096};
    // Per 16^3 brick, non-zero where every sample in it is clear; null: none known.
    const int32_t* clearBrick = nullptr;
    // For the extremes instead: per brick the highest (maximum) or lowest
    // (minimum) 16-bit value a sample in it can take; null: none known.
    const int32_t* brickBound = nullptr;
    int32_t bricks[2] = {0, 0};
    // RGBA8 gradient texels on their own grid, filtered within the nearest z plane.
    const uint8_t* gradient = nullptr;
    int32_t gradientDims[3] = {0, 0, 0};
    int32_t gradientSlices = 2;
    // A composite ray stops once its transparency is at most this.
    float stopTransparency = 0;
};

// The packet's rays: texture position u0 + z du at view depth z, the
// direction towards the eye, and the planes each can meet [first, last];
// lanes not on are left alone.
struct PacketRays {
    float u0[3][kMostLanes], du[3][kMostLanes], e[3][kMostLanes];
    int32_t first[kMostLanes], last[kMostLanes];
    int32_t on[kMostLanes];
};

// What the march leaves per lane: composite colour, the blend's alpha and
// the transparency left; or the extreme value and whether any sample was taken.
struct PacketResult {
    float c[3][kMostLanes], a[kMostLanes], t[kMostLanes];
    float extreme[kMostLanes];
    float extremes[kMostChannels][kMostLanes];  // each channel's, with several
    int32_t covered[kMostLanes];
};

// The depth at which a ray leaves brick `brick` (going deeper), a little
// short of it; at least z.
float BrickExitDepth(const float u0[3], const float du[3], const int32_t brick[3], const int32_t dims[3],
                     float z);

// How many of the planes' depths `depth` (descending, `count` of them) are
// at least `z`.
int32_t PlanesAtLeast(const float* depth, int32_t count, float z);

// The kernels, each for 8 lanes (4 x 2 pixels) or 16 (4 x 4); to be called
// only where the machine has the instructions (KernelLanes says).
void MarchPacketAvx2(const KernelPass& pass, const PacketRays& rays, PacketResult* result);
void MarchPacketAvx512(const KernelPass& pass, const PacketRays& rays, PacketResult* result);

}  // namespace software_volume
