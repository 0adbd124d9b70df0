// View-aligned slice proxy geometry on the device: BuildSliceGeometry hands
// the cut (slice_cut.h) to the device, farthest plane first.
#pragma once

#include "slicing/slice_cut.h"

// Rebuilds Renderer.proxyVertexBuffer / proxyIndexBuffer / proxyIndexCount
// from Renderer.view and the volume's half extents. False after a message box.
bool BuildSliceGeometry();

// The quad over the box's central z plane (Renderer.centreQuad* buffers).
bool BuildCentreQuad();
