// The panel's mouse operations: the handle opens and closes it, the picker
// recolours the selected point, and the graph selects, moves, adds and
// removes points. A drag is applied once, on the release.
#include <cmath>
#include <optional>

#include "render/client_area.h"
#include "ui/tab.h"
#include "ui/tab_layout.h"

namespace UI {

namespace {

// Points come from files and may hold any float: a value with no pixel (NaN,
// infinite, far off screen) lands far outside the client area, where nothing
// is hit and no clipping rectangle reaches.
int32_t ToPixel(float value) {
    const float cut = std::trunc(value);
    if (!(cut > -1.0e8f && cut < 1.0e8f))
        return cut < 0.0f ? -100000000 : 100000000;
    return static_cast<int32_t>(cut);
}

}  // namespace

// The open panel is laid out from its bottom edge: in a tall client area that
// edge is the client's bottom, in a short one it lies below it by as much as
// the panel rose less than its full distance. Every open-panel row below is
// measured from here, so drawing and hit tests move together.
int32_t CTab::OpenPanelBottomY() const {
    const float shortfall = kSlideDistance - OpenSlideDistance(ClientArea.heightF);
    return ClientArea.height + static_cast<int32_t>(shortfall);
}

int32_t CTab::ClientXOfPosition(float position) const {
    return ToPixel(graphScaleX * position + graphOriginX + ClientArea.halfWidth);
}

int32_t CTab::ClientYOfOpacity(float alpha) const {
    return ToPixel(graphScaleY * alpha + (static_cast<float>(OpenPanelBottomY()) + 440.0f) - 640.0f);
}

float CTab::PositionFromX(int32_t x) const {
    return (static_cast<float>(x) - graphOriginX - ClientArea.halfWidth) / graphScaleX;
}

float CTab::OpacityFromY(int32_t y) const {
    return ((static_cast<float>(y) - static_cast<float>(OpenPanelBottomY())) - 440.0f + 640.0f) / graphScaleY;
}

bool CTab::OnHandle(int32_t x) const {
    const float fx = static_cast<float>(x);
    return handleX < fx && fx < handleX + handleWidth;
}

uint32_t CTab::HitTestPoint(int32_t x, int32_t y) {
    for (uint32_t i = 0; i < pointCount; ++i) {
        const int32_t px = ClientXOfPosition(points[i].position);
        const int32_t py = ClientYOfOpacity(points[i].alpha);
        if (px - 7 <= x && x <= px + 7 && py - 7 <= y && y <= py + 7)
            return i;
    }
    return kNoPoint;
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
        return ClientArea.height - y < 32 && StartSlideFromHandle(x);
    if (state & (kTabOpening | kTabClosing))
        return false;
    const int32_t d = OpenPanelBottomY() - y;
    if (d >= 640)
        return d < 672 && StartSlideFromHandle(x);
    return std::nullopt;
}

bool CTab::InGraph(int32_t x, int32_t d) const {
    const int32_t w2 = ClientArea.width >> 1;
    return 192 < d && d < 404 && 6 < x && x < w2 - 6;
}

bool CTab::OnLButtonDown(uint32_t, int32_t x, int32_t y) {
    if (const std::optional<bool> decided = PressOutsideOpenPanel(x, y))
        return *decided;
    const int32_t bottom = OpenPanelBottomY();
    const int32_t d = bottom - y;
    const int32_t w2 = ClientArea.width >> 1;
    if (420 < d && d < 600) {
        if (11 <= x && x <= 190) {
            dragMode = kDragField;
            ClipCursorTo(9, bottom - 600, 189, bottom - 420);
        } else if (211 <= x && x <= 249) {
            dragMode = kDragLightness;
            ClipCursorTo(209, bottom - 600, 249, bottom - 420);
        }
        return true;
    }
    if (!InGraph(x, d))
        return true;

    const uint32_t hit = HitTestPoint(x, y);
    if (hit != kNoPoint) {
        SelectPoint(hit);
        if (hit == 0) {
            ClipCursorTo(9, bottom - 399, 10, bottom - 199);
            dragMode = kDragFirstPoint;
        } else if (hit == pointCount - 1) {
            ClipCursorTo(w2 - 21, bottom - 399, w2 - 20, bottom - 199);
            dragMode = kDragLastPoint;
        } else {
            ClipCursorTo(ClientXOfPosition(points[hit - 1].position) + 8, bottom - 399,
                         ClientXOfPosition(points[hit + 1].position) - 8, bottom - 199);
            dragMode = kDragInnerPoint;
        }
        Rebuild();
        return true;
    }

    const float p = PositionFromX(x);
    const float a = OpacityFromY(y);
    if (!(0.0f < p && p < 1.0f && 0.0f < a && a < 1.0f))
        return true;
    if (pointCount <= 1)
        return true;
    for (uint32_t k = 1; k < pointCount; ++k) {
        if (points[k].position > p) {
            InsertPoint(k, p, a);
            Rebuild();
            return true;
        }
    }
    return true;
}

bool CTab::OnLButtonUp(uint32_t, int32_t x, int32_t y) {
    if (state & kTabClosed)
        return ClientArea.height - y < 32 && OnHandle(x);
    if (state & (kTabOpening | kTabClosing))
        return false;
    const int32_t bottom = OpenPanelBottomY();
    const int32_t d = bottom - y;
    if (d >= 640)
        return d < 672 && OnHandle(x);

    // A drag needs a selected point to act on; the selection always names one.
    if (dragMode != kDragNone && selectedPoint < pointCount) {
        ControlPoint& s = points[selectedPoint];
        const float pickerValue = 1.0f - static_cast<float>(y - bottom + 600) / 180.0f;
        switch (dragMode) {
            case kDragField:
                selectedHsl.hue = static_cast<float>(x - 10) * 2.0f;
                selectedHsl.saturation = pickerValue;
                break;
            case kDragLightness:
                selectedHsl.lightness = pickerValue;
                break;
            case kDragInnerPoint:
                s.position = PositionFromX(x);
                s.alpha = OpacityFromY(y);
                break;
            case kDragFirstPoint:
                points[0].alpha = OpacityFromY(y);
                break;
            case kDragLastPoint:
                points[pointCount - 1].alpha = OpacityFromY(y);
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
        if (dragMode >= kDragField && dragMode <= kDragLastPoint)
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
    DeletePoint(hit);
    // The selection keeps its number; when that now lies past the end (the
    // last point was selected), the new last point takes it over.
    if (selectedPoint >= pointCount)
        selectedPoint = pointCount - 1;
    SelectPoint(selectedPoint);
    Rebuild();
    return true;
}

bool CTab::OnRButtonUp(uint32_t, int32_t x, int32_t y) {
    if (state & kTabClosed)
        return ClientArea.height - y < 32 && OnHandle(x);
    if (state & (kTabOpening | kTabClosing))
        return false;
    const int32_t d = OpenPanelBottomY() - y;
    return d < 640 || (d < 672 && OnHandle(x));
}

}  // namespace UI
