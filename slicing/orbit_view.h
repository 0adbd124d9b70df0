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
