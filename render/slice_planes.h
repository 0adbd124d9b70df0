// Slices: opaque planes of the volume's samples, one per axis, each through
// one voxel layer and shown inside the crop. The sample axes run towards the
// patient's left (x), head (y) and back (z), so the x plane is sagittal, the
// y plane axial and the z plane coronal. Plain data; the passes draw them.
#pragma once

#include <cstdint>
#include <string>

struct SlicePlanes {
    bool shown[3] = {false, false, false};
    // The voxel layer each plane lies on, from 0; kept while hidden.
    int32_t index[3] = {-1, -1, -1};
    // The plane Page Up and Page Down move: the last one shown, -1 for none.
    int32_t current = -1;
    // Slices > Show Boundaries: each shown plane outlined in its axis' colour.
    bool outlines = false;
    // The planes' grey window in 12-bit values: low is black, high white.
    // The 12 bits already hold the scan's value window (Values > ...), so
    // the whole range is where a plane starts.
    float greyLow = 0.0f, greyHigh = 4095.0f;
};

// "sagittal", "axial", "coronal".
const char* PlaneName(int axis);
// Each index inside the grid: a layer past the end on its last, one never
// placed (or on an axis of no voxels) on the middle voxel.
void ClampPlanes(SlicePlanes& planes, const uint32_t dims[3]);
// Shows or hides the plane on `axis`; one shown becomes the current.
void TogglePlane(SlicePlanes& planes, int axis, const uint32_t dims[3]);
// The current plane `delta` layers on, stopping at the grid's ends; false
// with no plane shown.
bool MovePlane(SlicePlanes& planes, int delta, const uint32_t dims[3]);
void ClearPlanes(SlicePlanes& planes);
bool AnyPlaneShown(const SlicePlanes& planes);
// The current plane's place for the status line: "axial 88 / 181, 12.0 mm"
// (the layer counted from 1; the distance of its centre from the first
// layer's centre); empty with no plane shown.
std::string PlanePlaceText(const SlicePlanes& planes, const uint32_t dims[3], const float spacing[3]);
// The texture position of the plane's layer centre along its axis.
inline float PlaneTexturePosition(int32_t index, uint32_t dim) {
    return (static_cast<float>(index) + 0.5f) / static_cast<float>(dim);
}
// A 12-bit value through the grey window [low, high]: 0 black, 1 white.
float PlaneGrey(float value12, float low, float high);
// The outline colours: x red, y green, z blue.
inline constexpr float kPlaneColours[3][4] = {
    {1.0f, 0.2f, 0.2f, 1.0f}, {0.2f, 1.0f, 0.2f, 1.0f}, {0.3f, 0.5f, 1.0f, 1.0f}};

// tamlo-render --slices "x=N,y=N,z=N" (any of them, each once), N a layer
// from 0: the planes to show (onto `planes`, indices unchecked against a
// grid). "" when fine, else the one-line reason.
std::string ParsePlaneList(const std::string& text, SlicePlanes* planes);
// "" when every shown plane lies inside the grid, else the reason.
std::string PlanesOutsideGrid(const SlicePlanes& planes, const uint32_t dims[3]);
