// The editor's control points in client pixels and in their list: where a
// point's marker lies, what a press at a pixel means on the graph, which
// marker a press hits, and a list with a point added or taken out. Plain
// computation; the editor object (ui/tab.h) applies it.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/transfer_function.h"

namespace UI {

inline constexpr uint32_t kNoPoint = 0xFFFFFFFFu;

// The graph's mapping at one client size: the editor's graph fields (computed
// for the closed panel), the client's half width, and the open panel's bottom
// edge and the row opacity 0 lies on (tab_layout.h).
struct GraphPixels {
    float scaleX = 0, originX = 0, halfWidth = 0;
    float scaleY = 0;
    int32_t openPanelBottom = 0;
    int32_t alphaZeroRow = 0;

    // A point's pixel. Points come from files and may hold any float: a value
    // with no pixel (NaN, infinite, far off screen) lands far outside the
    // client area, where nothing is hit and no clipping rectangle reaches.
    int32_t XOfPosition(float position) const;
    int32_t YOfOpacity(float alpha) const;
    // What a pixel of the open panel's graph stands for.
    float PositionOfX(int32_t x) const;
    float OpacityOfY(int32_t y) const;
};

// The first point whose marker (reach pixels either side of its pixel, both
// ways) covers (x, y); kNoPoint if none does.
uint32_t HitTestControlPoint(const ControlPoint* points, uint32_t count, const GraphPixels& graph,
                             int32_t reach, int32_t x, int32_t y);

// The list of count points with `point` put in at index (0..count), and with
// the point at index (< count) taken out.
std::unique_ptr<ControlPoint[]> PointsWithInserted(const ControlPoint* points, uint32_t count, uint32_t index,
                                                   const ControlPoint& point);
std::unique_ptr<ControlPoint[]> PointsWithRemoved(const ControlPoint* points, uint32_t count, uint32_t index);

}  // namespace UI
