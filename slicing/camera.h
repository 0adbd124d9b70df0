// The orbit camera: the view matrix and light direction from OrbitCamera, and
// the per-volume constants.
#pragma once

#include "platform/d3dx/d3dx_math.h"

// The look-at view for pitch (about x), yaw (about y) and distance: the eye
// orbits the origin, its up vector turning with it, so every pitch is valid.
void ComputeOrbitView(float pitch, float yaw, float distance, d3dx::Matrix* view,
                      d3dx::Vector4* lightDirection);

// Rebuilds Renderer.view, viewTransposed and lightDirection, the slices, and
// uploads cbChangeFrameVolume.
void UpdateCamera();
// Renderer.volumeConstants = (half extents / 500, 0), uploaded to cbChangeOnVolume.
void UploadVolumeConstants();
