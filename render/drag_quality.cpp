#include "render/drag_quality.h"

DragQuality ChooseDragQuality(double lastLayerSeconds, DragQuality current) {
    if (!(lastLayerSeconds > 0.0))
        return current;
    // The work the last layer's time stands for at full quality.
    const double share =
        1.0 / (double(current.resolutionDivisor) * current.resolutionDivisor * current.sliceStep);
    const double fullSeconds = lastLayerSeconds / share;
    const double needed = fullSeconds / kDragFrameBudgetSeconds;  // the reduction the budget asks for
    DragQuality next;
    if (needed <= 1.0)
        return next;
    while (next.resolutionDivisor < kCoarsestQuality.resolutionDivisor &&
           double(next.resolutionDivisor) * next.resolutionDivisor < needed)
        ++next.resolutionDivisor;
    const double pixels = double(next.resolutionDivisor) * next.resolutionDivisor;
    while (next.sliceStep < kCoarsestQuality.sliceStep && pixels * next.sliceStep < needed)
        ++next.sliceStep;
    return next;
}
