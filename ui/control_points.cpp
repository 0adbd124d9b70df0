#include "ui/control_points.h"

#include <algorithm>
#include <cmath>

#include "ui/tab_layout.h"

namespace UI {

namespace {

int32_t ToPixel(float value) {
    const float cut = std::trunc(value);
    if (!(cut > -1.0e8f && cut < 1.0e8f))
        return cut < 0.0f ? -100000000 : 100000000;
    return static_cast<int32_t>(cut);
}

}  // namespace

int32_t GraphPixels::XOfPosition(float position) const {
    return ToPixel(scaleX * position + originX + halfWidth);
}

// The graph's fields are computed for the closed panel; the open one is drawn
// kSlideDistance higher, with opacity 0 on alphaZeroRow.
int32_t GraphPixels::YOfOpacity(float alpha) const {
    const float rowsBelowPanelTop = kSlideDistance - static_cast<float>(alphaZeroRow);
    return ToPixel(scaleY * alpha + (static_cast<float>(openPanelBottom) + rowsBelowPanelTop) -
                   kSlideDistance);
}

float GraphPixels::PositionOfX(int32_t x) const {
    return (static_cast<float>(x) - originX - halfWidth) / scaleX;
}

float GraphPixels::OpacityOfY(int32_t y) const {
    const float rowsBelowPanelTop = kSlideDistance - static_cast<float>(alphaZeroRow);
    return ((static_cast<float>(y) - static_cast<float>(openPanelBottom)) - rowsBelowPanelTop +
            kSlideDistance) /
           scaleY;
}

uint32_t HitTestControlPoint(const ControlPoint* points, uint32_t count, const GraphPixels& graph,
                             int32_t reach, int32_t x, int32_t y) {
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t px = graph.XOfPosition(points[i].position);
        const int32_t py = graph.YOfOpacity(points[i].alpha);
        if (px - reach <= x && x <= px + reach && py - reach <= y && y <= py + reach)
            return i;
    }
    return kNoPoint;
}

std::unique_ptr<ControlPoint[]> PointsWithInserted(const ControlPoint* points, uint32_t count, uint32_t index,
                                                   const ControlPoint& point) {
    std::unique_ptr<ControlPoint[]> grown(new ControlPoint[count + 1]);
    std::copy(points, points + index, grown.get());
    grown[index] = point;
    std::copy(points + index, points + count, grown.get() + index + 1);
    return grown;
}

std::unique_ptr<ControlPoint[]> PointsWithRemoved(const ControlPoint* points, uint32_t count,
                                                  uint32_t index) {
    std::unique_ptr<ControlPoint[]> shrunk(new ControlPoint[count - 1]);
    std::copy(points, points + index, shrunk.get());
    std::copy(points + index + 1, points + count, shrunk.get() + index);
    return shrunk;
}

}  // namespace UI
