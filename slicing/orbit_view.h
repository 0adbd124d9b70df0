// The orbit camera's state and its maths: plain computation, no device.
#pragma once

#include "platform/d3dx/d3dx_math.h"

// The wheel's range for OrbitCamera.distance: close enough to look inside
// the box, far enough for it to be a few pixels, never where the matrices or
// the slicing lose their precision.
inline constexpr float kMinDistance = 0.25f;
inline constexpr float kMaxDistance = 100.0f;

struct OrbitCameraRecord {
    float pitch = 1.0f;
    float yaw = 0.0f;
    float distance = 4.0f;
};

extern OrbitCameraRecord OrbitCamera;

// The look-at view for pitch (about x), yaw (about y) and distance: the eye
// orbits the origin, its up vector turning with it, so every pitch is valid.
void ComputeOrbitView(float pitch, float yaw, float distance, d3dx::Matrix* view,
                      d3dx::Vector4* lightDirection);

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
