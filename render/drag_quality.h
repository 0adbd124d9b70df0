// How much a rotation drag's frame may leave out on a slow device: the volume
// layer drawn at a fraction of the resolution per axis and stretched, and
// only every k-th slice, its opacity standing for the k it replaces.
#pragma once

#include <cstdint>

struct DragQuality {
    uint32_t resolutionDivisor = 1;  // 1 to 4, per axis
    uint32_t sliceStep = 1;          // 1 to 4
    bool Full() const { return resolutionDivisor == 1 && sliceStep == 1; }
};

// The least work a coarse frame does: a sixteenth of the pixels, a quarter
// of the slices.
inline constexpr DragQuality kCoarsestQuality{4, 4};

// A frame budget of 66 ms (15 frames per second).
inline constexpr double kDragFrameBudgetSeconds = 0.066;

// The quality for the next drag frame, given how long the last layer took at
// `current`: the work scales with the pixels (divisor squared) and the
// slices drawn. Resolution goes first, slices after; never below a quarter
// of either. A layer within budget at full quality stays at full quality.
DragQuality ChooseDragQuality(double lastLayerSeconds, DragQuality current);
