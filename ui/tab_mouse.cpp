// The panel's mouse operations: the handle opens and closes it, the picker
// recolours the selected point, and the graph selects, moves, adds and
// removes points. A drag is applied once, on the release.
#include <algorithm>
#include <optional>

#include "render/client_area.h"
#include "ui/tab.h"
#include "ui/tab_layout.h"

namespace UI {

PanelLayout CTab::Layout() const {
    return LayOutPanel(ClientArea.halfWidth, handleX, handleWidth);
}

// Every open-panel row below is measured from the panel's bottom edge, so
// drawing and hit tests move together in a short client area.
int32_t CTab::OpenPanelBottomY() const {
    return OpenPanelBottom(ClientArea.height);
}

GraphPixels CTab::Graph() const {
    GraphPixels graph;
    graph.scaleX = graphScaleX;
    graph.originX = graphOriginX;
    graph.halfWidth = ClientArea.halfWidth;
    graph.scaleY = graphScaleY;
    graph.openPanelBottom = OpenPanelBottomY();
    graph.alphaZeroRow = Layout().alphaZeroRow;
    return graph;
}

bool CTab::OnHandle(int32_t x) const {
    const PanelLayout l = Layout();
    const float fx = static_cast<float>(x);
    return l.handlePressLeft < fx && fx < l.handlePressRight;
}

bool CTab::InClosedHandleRows(int32_t y) const {
    const PanelLayout l = Layout();
    return ClientArea.height - y < l.stripTop - l.panelTop;
}

uint32_t CTab::HitTestPoint(int32_t x, int32_t y) {
    return HitTestControlPoint(points.get(), pointCount, Graph(), Layout().pointReach, x, y);
}

// A confinement given in panel rows, measured from the open panel's bottom.
void CTab::ClipCursorTo(const ClipBand& band) {
    const int32_t bottom = OpenPanelBottomY();
    ClipCursorTo(band.left, bottom - band.top, band.right, bottom - band.bottom);
}

void CTab::ClipCursorTo(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    shell::POINT topLeft{left, top}, bottomRight{right, bottom};
    shell::ClientToScreen(MainWindow, &topLeft);
    shell::ClientToScreen(MainWindow, &bottomRight);
    shell::RECT rect;
    shell::SetRect(&rect, topLeft.x, topLeft.y, bottomRight.x, bottomRight.y);
    shell::ClipCursor(&rect);
}

void CTab::Rebuild() {
    GenerateColorGeometry();
    GenerateTransfer();
}

void CTab::SelectPoint(uint32_t index) {
    selectedPoint = index;
    selectedHsl = RgbToHsl(points[index].red, points[index].green, points[index].blue);
}

// The handle band starts a slide from closed or open; the caller has already
// checked the state and the band's rows.
bool CTab::StartSlideFromHandle(int32_t x) {
    if (!OnHandle(x))
        return false;
    state = (state & kTabClosed) ? kTabOpening : kTabClosing;
    slideTime = 0.0f;
    return true;
}

// What a button press decides before the open panel's own regions: closed,
// only the handle band counts (and opens); sliding, nothing is taken; open,
// the band above the panel closes on the handle. Empty when the press falls
// inside the open panel.
std::optional<bool> CTab::PressOutsideOpenPanel(int32_t x, int32_t y) {
    if (state & kTabClosed)
        return InClosedHandleRows(y) && StartSlideFromHandle(x);
    if (state & (kTabOpening | kTabClosing))
        return false;
    const PanelLayout l = Layout();
    const int32_t d = OpenPanelBottomY() - y;
    if (d >= l.panelTop)
        return d < l.stripTop && StartSlideFromHandle(x);
    return std::nullopt;
}

bool CTab::Covers(int32_t x, int32_t y) const {
    if (state & kTabClosed)
        return InClosedHandleRows(y) && OnHandle(x);
    if (state & (kTabOpening | kTabClosing))
        return true;
    const PanelLayout l = Layout();
    const int32_t d = OpenPanelBottomY() - y;
    return d < l.panelTop || (d < l.stripTop && OnHandle(x));
}

bool CTab::InGraph(int32_t x, int32_t d) const {
    return Layout().graphPress.Contains(x, d);
}

bool CTab::OnLButtonDown(uint32_t, int32_t x, int32_t y) {
    if (const std::optional<bool> decided = PressOutsideOpenPanel(x, y))
        return *decided;
    // Whatever drag this press starts is undone to here.
    dragStartPoints = Points();
    const PanelLayout l = Layout();
    const int32_t d = OpenPanelBottomY() - y;
    // The field and the bar share their rows: a press in those rows is the
    // picker's, on either of them or between.
    if (l.fieldPress.bottom <= d && d <= l.fieldPress.top) {
        if (l.fieldPress.Contains(x, d)) {
            dragMode = kDragField;
            ClipCursorTo(l.fieldClip);
        } else if (l.barPress.Contains(x, d)) {
            dragMode = kDragLightness;
            ClipCursorTo(l.barClip);
        }
        return true;
    }
    if (!InGraph(x, d))
        return true;

    const uint32_t hit = HitTestPoint(x, y);
    if (hit != kNoPoint) {
        SelectPoint(hit);
        if (hit == 0) {
            ClipCursorTo(l.firstPointClip);
            dragMode = kDragFirstPoint;
        } else if (hit == pointCount - 1) {
            ClipCursorTo(l.lastPointClip);
            dragMode = kDragLastPoint;
        } else {
            ClipBand between = l.firstPointClip;
            const GraphPixels graph = Graph();
            between.left = graph.XOfPosition(points[hit - 1].position) + l.innerPointGap;
            between.right = graph.XOfPosition(points[hit + 1].position) - l.innerPointGap;
            ClipCursorTo(between);
            dragMode = kDragInnerPoint;
        }
        Rebuild();
        return true;
    }

    const GraphPixels graph = Graph();
    const float p = graph.PositionOfX(x);
    const float a = graph.OpacityOfY(y);
    if (!(0.0f < p && p < 1.0f && 0.0f < a && a < 1.0f))
        return true;
    if (pointCount <= 1)
        return true;
    for (uint32_t k = 1; k < pointCount; ++k) {
        if (points[k].position > p) {
            const PointList before = Points();
            InsertPoint(k, p, a);
            history.Record(before, Points());
            Rebuild();
            return true;
        }
    }
    return true;
}

bool CTab::OnLButtonUp(uint32_t, int32_t x, int32_t y) {
    if (state & kTabClosed)
        return InClosedHandleRows(y) && OnHandle(x);
    if (state & (kTabOpening | kTabClosing))
        return false;
    const PanelLayout l = Layout();
    const int32_t bottom = OpenPanelBottomY();
    const int32_t d = bottom - y;
    if (d >= l.panelTop)
        return d < l.stripTop && OnHandle(x);

    // A drag needs a selected point to act on; the selection always names one.
    if (dragMode != kDragNone && selectedPoint < pointCount) {
        ControlPoint& s = points[selectedPoint];
        const ControlPoint before = s;
        const int32_t pickerTop = l.pickerZeroRow + l.pickerRows;
        const float pickerValue =
            1.0f - static_cast<float>(y - bottom + pickerTop) / static_cast<float>(l.pickerRows);
        switch (dragMode) {
            case kDragField:
                selectedHsl.hue = static_cast<float>(x - l.hueZeroColumn) * l.hueScale;
                selectedHsl.saturation = pickerValue;
                break;
            case kDragLightness:
                selectedHsl.lightness = pickerValue;
                break;
            case kDragInnerPoint:
                s.position = Graph().PositionOfX(x);
                s.alpha = Graph().OpacityOfY(y);
                break;
            case kDragFirstPoint:
                points[0].alpha = Graph().OpacityOfY(y);
                break;
            case kDragLastPoint:
                points[pointCount - 1].alpha = Graph().OpacityOfY(y);
                break;
            default:
                break;
        }
        if (dragMode == kDragField || dragMode == kDragLightness) {
            const RgbaColor c = HslToRgba(selectedHsl, s.alpha);
            s.red = c.red;
            s.green = c.green;
            s.blue = c.blue;
            s.alpha = c.alpha;
        }
        // The whole drag is one step, whatever it moved through live.
        history.Record(dragStartPoints, Points());
        // A point followed the cursor while dragged: released where it was
        // last moved to, the lookup and the picture are already right.
        const bool pointMoved = s.position != before.position || s.alpha != before.alpha;
        if ((dragMode == kDragField || dragMode == kDragLightness) || (DraggingPoint() && pointMoved))
            Rebuild();
    }
    shell::ClipCursor(nullptr);
    dragMode = kDragNone;
    return true;
}

bool CTab::OnRButtonDown(uint32_t, int32_t x, int32_t y) {
    if (const std::optional<bool> decided = PressOutsideOpenPanel(x, y))
        return *decided;
    const int32_t d = OpenPanelBottomY() - y;
    if (!InGraph(x, d))
        return true;
    const uint32_t hit = HitTestPoint(x, y);
    if (hit == kNoPoint || hit == 0 || hit == pointCount - 1)
        return true;
    const PointList before = Points();
    DeletePoint(hit);
    history.Record(before, Points());
    // The selection keeps its number; when that now lies past the end (the
    // last point was selected), the new last point takes it over.
    if (selectedPoint >= pointCount)
        selectedPoint = pointCount - 1;
    SelectPoint(selectedPoint);
    Rebuild();
    return true;
}

void CTab::DragPointTo(int32_t x, int32_t y) {
    if (!DraggingPoint() || !(state & kTabOpen) || pointCount < 2 || selectedPoint >= pointCount)
        return;
    const GraphPixels graph = Graph();
    ControlPoint& s = points[selectedPoint];
    const ControlPoint before = s;
    if (dragMode == kDragInnerPoint)
        s.position = graph.PositionOfX(x);
    s.alpha = graph.OpacityOfY(y);
    if (s.position != before.position || s.alpha != before.alpha)
        Rebuild();
}

std::optional<float> CTab::GraphPositionAt(int32_t x, int32_t y) const {
    if (!(state & kTabOpen) || pointCount < 2)
        return std::nullopt;
    switch (dragMode) {
        case kDragFirstPoint:
            return points[0].position;
        case kDragLastPoint:
            return points[pointCount - 1].position;
        case kDragInnerPoint:
            break;
        default:
            if (dragMode != kDragNone || !InGraph(x, OpenPanelBottomY() - y))
                return std::nullopt;
    }
    return std::clamp(Graph().PositionOfX(x), 0.0f, 1.0f);
}

bool CTab::OnRButtonUp(uint32_t, int32_t x, int32_t y) {
    if (state & kTabClosed)
        return InClosedHandleRows(y) && OnHandle(x);
    if (state & (kTabOpening | kTabClosing))
        return false;
    const PanelLayout l = Layout();
    const int32_t d = OpenPanelBottomY() - y;
    return d < l.panelTop || (d < l.stripTop && OnHandle(x));
}

}  // namespace UI
