// One slice plane laid flat for the slice window: which sample axes run
// across and down its picture, the picture's grey pixels from the volume's
// texels, and the way back from a point of the picture to a voxel. Plain
// computation; the window draws what it gives.
#pragma once

#include <cstdint>
#include <vector>

// The picture's axes, as a reader of scans expects them (the sample axes
// run towards the patient's left, head and back):
// - sagittal (x plane): z across, the front on the left; y up, the head at
//   the top;
// - axial (y plane): x across, the patient's right on the left (seen from
//   the feet); z down, the front at the top;
// - coronal (z plane): x across, the patient's right on the left (seen from
//   the front); y up, the head at the top.
struct PlaneAxes {
    int across = 0;       // the sample axis along the picture's rows
    int down = 0;         // the sample axis along its columns
    bool upward = false;  // the down axis' last layer in the top row
};
PlaneAxes PlanePictureAxes(int axis);

// The texels of one grid as the volume keeps them: 12-bit samples shifted
// to 16 bits, x fastest, then y, then z; `components` interleaved a voxel,
// `component` the one shown.
struct PlaneSamples {
    const uint16_t* texels = nullptr;
    uint32_t dims[3] = {0, 0, 0};
    uint32_t components = 1;
    uint32_t component = 0;
    // The 12-bit value of the voxel at (x, y, z), inside the grid.
    float Value(uint32_t x, uint32_t y, uint32_t z) const {
        const uint64_t i = (uint64_t{z} * dims[1] + y) * dims[0] + x;
        return static_cast<float>(texels[i * components + component] >> 4);
    }
};

// The picture's size in pixels inside a region of regionWidth x
// regionHeight: as large as fits with the plane's proportions by the
// spacing (a grid of no voxels across either axis: 0 x 0).
void FitPlanePicture(int axis, const uint32_t dims[3], const float spacing[3], float regionWidth,
                     float regionHeight, float* width, float* height);

// Fills `grey` (width x height bytes, the top row first) with layer `index`
// of the plane on `axis` through the grey window [low, high] (PlaneGrey, 0
// black, 255 white). Each pixel's centre is sampled bilinearly within the
// layer, its texels clamped at the grid's edges, as the 3-D view samples the
// plane. Nothing for an empty picture or a layer outside the grid.
void FillPlanePicture(const PlaneSamples& samples, int axis, int32_t index, float low, float high,
                      uint32_t width, uint32_t height, std::vector<uint8_t>* grey);

// The grey picture as opaque RGBA8 texels, as the overlay takes pictures.
void GreyToRgba(const std::vector<uint8_t>& grey, std::vector<uint8_t>* rgba);
// Several channels' grey pictures (one size) as one opaque RGBA8 picture:
// each grey in its channel's colour (0 to 1; black adds nothing), added and
// clamped, as the 3-D view shows a plane of several channels.
void ChannelGreysToRgba(const std::vector<std::vector<uint8_t>>& greys, const float (*colours)[3],
                        std::vector<uint8_t>* rgba);

// The voxel under the picture point (fx, fy), fractions of its width and
// height from its top left corner (clamped to the grid); the plane's own
// axis is its layer.
void PlanePictureVoxel(int axis, int32_t index, const uint32_t dims[3], float fx, float fy,
                       uint32_t voxel[3]);

// Where layer `layer` of sample axis `other` (one of the picture's axes)
// crosses the picture, as a fraction of its width (across) or height (down)
// from the top left: the layer's centre.
float PlanePictureLine(int axis, int other, int32_t layer, const uint32_t dims[3]);
