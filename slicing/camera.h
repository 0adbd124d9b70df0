// The orbit camera on the device: the view matrix and light direction from
// OrbitCamera, and the per-volume constants.
#pragma once

#include "slicing/orbit_view.h"

extern OrbitCameraRecord OrbitCamera;

// Rebuilds Renderer.view, viewTransposed and lightDirection, the slices, and
// uploads cbChangeFrameVolume.
void UpdateCamera();
// Renderer.volumeConstants = (half extents / 500, 0), uploaded to cbChangeOnVolume.
void UploadVolumeConstants();
