// View-aligned slice proxy geometry on the device: BuildSliceGeometry hands
// the cut (slice_cut.h) to the device, farthest plane first.
#pragma once

#include "slicing/slice_cut.h"

// Cuts the slices for the renderer's view and the volume's half extents and
// hands them to the renderer (SetSliceProxy). False after a message box, with
// no slices left to draw.
bool BuildSliceGeometry();

// The quad over the box's central z plane, handed to the renderer.
bool BuildCentreQuad();
