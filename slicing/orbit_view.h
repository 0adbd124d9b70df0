// The orbit camera's state and its maths: plain computation, no device.
#pragma once

#include "platform/d3dx/d3dx_math.h"

// The wheel's range for OrbitCamera.distance: close enough to look inside
// the box, far enough for it to be a few pixels, never where the matrices or
// the slicing lose their precision.
inline constexpr float kMinDistance = 0.25f;
inline constexpr float kMaxDistance = 100.0f;

// The pan moves the view in the screen's plane: the box centre's offset in
// view space (x right, y up), in box lengths (the box's longest side is 1)
// at the centre's depth, so that a pan keeps its place on the box whatever
// the rotation.
struct OrbitCameraRecord {
    float pitch = 1.0f;
    float yaw = 0.0f;
    float distance = 4.0f;
    float panX = 0.0f, panY = 0.0f;
};

extern OrbitCameraRecord OrbitCamera;

// The look-at view for pitch (about x), yaw (about y) and distance: the eye
// orbits the origin, its up vector turning with it, so every pitch is valid.
void ComputeOrbitView(float pitch, float yaw, float distance, d3dx::Matrix* view,
                      d3dx::Vector4* lightDirection);
// The same, moved by the camera's pan in view space.
void ComputeOrbitView(const OrbitCameraRecord& camera, d3dx::Matrix* view, d3dx::Vector4* lightDirection);

// Pan and zoom against the perspective projection, whose x and y scales
// (its m[0][0] and m[1][1]) map view x / z and y / z to the window's -1..1.
struct ProjectionScale {
    float x = 1.0f, y = 1.0f;
};
// A drag of (dx, dy) client pixels (y down) in a client `height` pixels
// tall: the box centre's plane follows the cursor.
void PanByPixels(OrbitCameraRecord* camera, float dx, float dy, float height, ProjectionScale scale);
// A new distance, with the point under the window position (ndcX, ndcY)
// (-1..1, y up) on the plane through the box centre kept under it.
void ZoomTowards(OrbitCameraRecord* camera, float distance, float ndcX, float ndcY, ProjectionScale scale);
// The pan and distance that frame the box part [low, high] (fractions of the
// box per axis) of the box with half extents `half` in the window, seen at
// the camera's angles, with a margin; the distance within the wheel's range.
void FitBoxInView(OrbitCameraRecord* camera, const float half[3], const float low[3], const float high[3],
                  ProjectionScale scale);

// The six views along the volume's axes. Scans are turned so that x runs
// towards the patient's left, y towards the head and z towards the back
// (volume/scan_import.h), and pitch 0, yaw 0 looks at the face: front looks
// at the face, back at the back of the head, left at the patient's left side
// and right at the right side, each head up; top looks down on the head and
// bottom up from the feet, each with the face at the top of the screen.
enum class StandardView { Front, Back, Left, Right, Top, Bottom };
struct OrbitAngles {
    float pitch, yaw;
};
OrbitAngles StandardViewAngles(StandardView view);
// "front", "back", "left", "right", "top" or "bottom"; false for anything else.
bool StandardViewNamed(const char* name, StandardView* view);
