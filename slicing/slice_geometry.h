// View-aligned slice proxy geometry on the device: BuildSliceGeometry hands
// the cut (slice_cut.h) to the device, farthest plane first.
#pragma once

#include "slicing/slice_cut.h"

// Cuts the slices for the renderer's view and the volume's half extents and
// hands them to the renderer (SetSliceProxy); no slices at all when nothing
// of the box is left to draw. False after a message box, with no slices left
// to draw.
bool BuildSliceGeometry();

// The quad over the box's central z plane, handed to the renderer; cut to
// the crop like the slices (nothing of it when the crop leaves that plane out).
bool BuildCentreQuad();

// The part of the box the slices and the centre quad are cut to: the whole
// box at start; a new volume keeps it.
extern CropBox VolumeCrop;
// Sets the crop: the slices, the centre quad and the clear space follow it,
// shown from the next frame on. Without a volume only the crop is kept.
void SetVolumeCrop(const CropBox& crop);
