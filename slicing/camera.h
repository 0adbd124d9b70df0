// The orbit camera on the device: the view matrix and light direction from
// OrbitCamera, and the per-volume constants.
#pragma once

#include "slicing/orbit_view.h"

// The view matrix and light direction from OrbitCamera for the slice pass,
// and the slices cut for them.
void UpdateCamera();
// The volume constants (half extents / 500, 0) for the slice pass.
void UploadVolumeConstants();
