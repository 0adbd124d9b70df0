#include "ui/tab_layout.h"

#include <algorithm>

#include "ui/tab_state.h"

namespace UI {

// The one table of the panel. The press bands are the program's own and not
// all of them sit exactly on what is drawn: the field also takes the column
// right of it (hue 360), and the graph takes presses a point's reach around
// its markers and rightwards to 7 columns short of the client's centre, so a
// point dragged to either end can still be caught.
PanelLayout LayOutPanel(float halfWidth, float handleX, float handleWidth) {
    const float right = 2.0f * halfWidth - 0.5f;
    // Columns left of the client's centre, as the mouse counts them: the
    // width halved and cut towards zero.
    const int32_t w2 = static_cast<int32_t>(halfWidth);
    PanelLayout l{};
    l.strip = {-0.5f, right, 639.5f, 671.5f};
    l.handle = {handleX - 0.5f, handleX + handleWidth + 31.5f, 639.5f, 671.5f};
    l.background = {-0.5f, right, -0.5f, 639.5f};
    l.field = {9.5f, 189.5f, 419.5f, 599.5f};
    l.lightnessBar = {209.5f, 249.5f, 419.5f, 599.5f};
    l.lightnessBarMiddle = 509.5f;
    l.markerTip = 251.5f;
    l.markerBase = 261.5f;
    l.histogram = {9.5f, halfWidth - 20.5f, 199.0f, 399.0f};

    // A drawn edge half a pixel below a row boundary: the strip's rows and
    // the picker's rows and clips follow from the drawn rectangles.
    auto rowAbove = [](float edge) { return static_cast<int32_t>(edge + 0.5f); };
    auto columnAt = [](float edge) { return static_cast<int32_t>(edge - 0.5f); };
    l.panelTop = rowAbove(l.strip.bottom);
    l.stripTop = rowAbove(l.strip.top);
    l.handlePressLeft = handleX;
    l.handlePressRight = handleX + handleWidth;
    const int32_t pickerBottom = rowAbove(l.field.bottom) + 1, pickerTop = rowAbove(l.field.top) - 1;
    l.fieldPress = {11, 190, pickerBottom, pickerTop};
    l.barPress = {211, 249, pickerBottom, pickerTop};
    l.graphPress = {7, w2 - 7, 193, 403};
    l.pointReach = 7;

    auto clipOf = [&](const PanelRect& r) {
        return ClipBand{columnAt(r.left), columnAt(r.right), rowAbove(r.bottom), rowAbove(r.top)};
    };
    l.fieldClip = clipOf(l.field);
    l.barClip = clipOf(l.lightnessBar);
    const int32_t graphBottom = static_cast<int32_t>(l.histogram.bottom);
    const int32_t graphTop = static_cast<int32_t>(l.histogram.top);
    l.firstPointClip = {9, 10, graphBottom, graphTop};
    l.lastPointClip = {w2 - 21, w2 - 20, graphBottom, graphTop};
    l.innerPointGap = 8;

    l.hueZeroColumn = 10;
    l.hueScale = 2.0f;
    l.pickerZeroRow = rowAbove(l.field.bottom);
    l.pickerRows = rowAbove(l.field.top) - l.pickerZeroRow;
    l.alphaZeroRow = graphBottom + 1;
    return l;
}

namespace {

// Panel space to the drawing space of the closed panel: origin at the
// client's centre, y up, the open panel's bottom edge kSlideDistance below
// the client's bottom edge.
float DrawX(float c, float hw) {
    return c - hw;
}
float DrawY(float d, float hh) {
    return (d - kSlideDistance) - hh;
}

}  // namespace

void BuildTexturedGeometry(float hw, float hh, float x, float width, float u0, float u1, TexVertex* v,
                           uint32_t* indices) {
    const PanelLayout l = LayOutPanel(hw, x, width);
    const float stripTop = DrawY(l.strip.top, hh), stripBottom = DrawY(l.strip.bottom, hh);
    const float left = DrawX(l.strip.left, hw), right = DrawX(l.strip.right, hw);
    // The caps are 16 px each side of the middle.
    const float handleLeft = DrawX(l.handle.left, hw), handleRight = DrawX(l.handle.right, hw);
    const float capLeftEnd = DrawX(l.handle.left + 16.0f, hw), middleEnd = DrawX(l.handle.right - 16.0f, hw);
    const float panelBottom = DrawY(l.background.bottom, hh);
    const float fieldLeft = DrawX(l.field.left, hw), fieldRight = DrawX(l.field.right, hw);
    const float fieldTop = DrawY(l.field.top, hh), fieldBottom = DrawY(l.field.bottom, hh);
    const float histogramLeft = DrawX(l.histogram.left, hw), histogramRight = DrawX(l.histogram.right, hw);
    const float histogramTop = DrawY(l.histogram.top, hh), histogramBottom = DrawY(l.histogram.bottom, hh);
    const TexVertex table[kTexVertexCount] = {
        {left, stripTop, 1, 0, 0},
        {left, stripBottom, 1, 0, 0.0625f},
        {handleLeft, stripTop, 1, 0.03125f, 0},
        {handleLeft, stripBottom, 1, 0.03125f, 0.0625f},
        {capLeftEnd, stripTop, 1, 0.0625f, 0},
        {capLeftEnd, stripBottom, 1, 0.0625f, 0.0625f},
        {capLeftEnd, stripTop, 1, u0, 0},
        {capLeftEnd, stripBottom, 1, u0, 0.0625f},
        {middleEnd, stripTop, 1, u1, 0},
        {middleEnd, stripBottom, 1, u1, 0.0625f},
        {middleEnd, stripTop, 1, 0.09375f, 0},
        {middleEnd, stripBottom, 1, 0.09375f, 0.0625f},
        {handleRight, stripTop, 1, 0.125f, 0},
        {handleRight, stripBottom, 1, 0.125f, 0.0625f},
        {right, stripTop, 1, 0.15625f, 0},
        {right, stripBottom, 1, 0.15625f, 0.0625f},
        {left, stripBottom, 1, 0, 0.0625f},
        {left, panelBottom, 1, 0, 0.125f},
        {right, stripBottom, 1, 0.0625f, 0.0625f},
        {right, panelBottom, 1, 0.0625f, 0.125f},
        {fieldLeft, fieldTop, 1, 0, 0.6484375f},
        {fieldLeft, fieldBottom, 1, 0, 1},
        {fieldRight, fieldTop, 1, 179.0f / 512.0f, 0.6484375f},
        {fieldRight, fieldBottom, 1, 179.0f / 512.0f, 1},
        {histogramLeft, histogramTop, 1, 0, 1},
        {histogramLeft, histogramBottom, 1, 0, 0},
        {histogramRight, histogramTop, 1, 1, 1},
        {histogramRight, histogramBottom, 1, 1, 0},
    };
    for (uint32_t i = 0; i < kTexVertexCount; ++i)
        v[i] = table[i];
    // Quads (top-left a, bottom-left b, top-right c, bottom-right d) as
    // a, c, d, d, b, a: both triangles clockwise on screen.
    const uint32_t quads[8][4] = {{0, 1, 2, 3},     {2, 3, 4, 5},     {6, 7, 8, 9},     {10, 11, 12, 13},
                                  {12, 13, 14, 15}, {16, 17, 18, 19}, {20, 21, 22, 23}, {24, 25, 26, 27}};
    for (int q = 0; q < 8; ++q) {
        const uint32_t a = quads[q][0], b = quads[q][1], c = quads[q][2], d = quads[q][3];
        const uint32_t six[6] = {a, c, d, d, b, a};
        for (int k = 0; k < 6; ++k)
            indices[q * 6 + k] = six[k];
    }
}

GraphMapping ComputeGraphMapping(float hw, float hh) {
    const PanelLayout l = LayOutPanel(hw);
    GraphMapping g;
    g.originX = DrawX(l.histogram.left, hw);
    g.scaleX = DrawX(l.histogram.right, hw) - g.originX;
    g.originY = DrawY(l.histogram.bottom, hh);
    g.scaleY = g.originY - DrawY(l.histogram.top, hh);
    return g;
}

ColorGeometry BuildColorGeometry(float hw, float hh, const ControlPoint* points, uint32_t n,
                                 uint32_t selected, const HslColor& hsl) {
    const PanelLayout l = LayOutPanel(hw);
    ColorGeometry g;
    const RgbaColor c = HslToRgba(HslColor{hsl.hue, hsl.saturation, 0.5f}, 1.0f);
    // Hue runs 0..360 across the field, saturation and lightness 0..1 up it.
    const float fieldWidth = l.field.right - l.field.left, fieldHeight = l.field.top - l.field.bottom;
    const float cx = DrawX(l.field.left, hw) + hsl.hue * fieldWidth / 360.0f;
    const float cy = DrawY(l.field.bottom, hh) + fieldHeight * hsl.saturation;
    const float ly = DrawY(l.lightnessBar.bottom, hh) + fieldHeight * hsl.lightness;
    const float barLeft = DrawX(l.lightnessBar.left, hw), barRight = DrawX(l.lightnessBar.right, hw);
    const float barTop = DrawY(l.lightnessBar.top, hh), barMiddle = DrawY(l.lightnessBarMiddle, hh);
    const float barBottom = DrawY(l.lightnessBar.bottom, hh);
    auto push = [&](float x, float y, float r, float gr, float b, float a) {
        g.vertices.push_back(ColorVertex{x, y, 1.0f, r, gr, b, a});
    };
    push(barLeft, barTop, 1, 1, 1, 1);
    push(barLeft, barMiddle, c.red, c.green, c.blue, 1);
    push(barLeft, barBottom, 0, 0, 0, 1);
    push(barRight, barTop, 1, 1, 1, 1);
    push(barRight, barMiddle, c.red, c.green, c.blue, 1);
    push(barRight, barBottom, 0, 0, 0, 1);
    // The cursor: four black arms leaving a gap around the centre.
    const float arms[16][2] = {{-9, -1}, {-9, 1}, {-3, -1}, {-3, 1}, {-1, -9}, {-1, -3}, {1, -9}, {1, -3},
                               {3, -1},  {3, 1},  {9, -1},  {9, 1},  {-1, 3},  {-1, 9},  {1, 3},  {1, 9}};
    for (const auto& arm : arms)
        push(cx + arm[0], cy + arm[1], 0, 0, 0, 1);
    // The marker: a white triangle pointing left at the bar, a black one a
    // pixel inside it.
    const float tip = DrawX(l.markerTip, hw), base = DrawX(l.markerBase, hw);
    push(tip, ly, 1, 1, 1, 1);
    push(base, ly - 10, 1, 1, 1, 1);
    push(base, ly + 10, 1, 1, 1, 1);
    push(tip + 1, ly, 0, 0, 0, 1);
    push(base - 1, ly - 9, 0, 0, 0, 1);
    push(base - 1, ly + 9, 0, 0, 0, 1);

    const GraphMapping map = ComputeGraphMapping(hw, hh);
    for (uint32_t i = 0; i < n; ++i) {
        const ControlPoint& p = points[i];
        const float px = map.originX + p.position * map.scaleX;
        const float py = map.originY - p.alpha * map.scaleY;
        const bool isSelected = i == selected;
        const float s = isSelected ? 6.0f : 5.0f;
        const float outer[4] = {isSelected ? 0.0f : 0.5f, isSelected ? 0.0f : 0.5f, 0.5f, 1.0f};
        push(px, py, 0.5f, 0.5f, 0.5f, 1);
        push(px - s, py - s, outer[0], outer[1], outer[2], outer[3]);
        push(px - s, py + s, outer[0], outer[1], outer[2], outer[3]);
        push(px + s, py - s, outer[0], outer[1], outer[2], outer[3]);
        push(px + s, py + s, outer[0], outer[1], outer[2], outer[3]);
        push(px - 4, py - 4, p.red, p.green, p.blue, 1);
        push(px - 4, py + 4, p.red, p.green, p.blue, 1);
        push(px + 4, py - 4, p.red, p.green, p.blue, 1);
        push(px + 4, py + 4, p.red, p.green, p.blue, 1);
    }

    for (uint32_t j = 0; j + 1 < n; ++j) {
        g.indices.push_back(28 + 9 * j);
        g.indices.push_back(28 + 9 * (j + 1));
    }
    g.lineIndexCount = static_cast<uint32_t>(g.indices.size());
    const uint32_t fixed[42] = {0,  3,  4,  4,  1,  0,  1,  4,  5,  5,  2,  1,  8,  6,
                                9,  7,  9,  6,  12, 10, 13, 11, 13, 10, 16, 14, 17, 15,
                                17, 14, 20, 18, 21, 19, 21, 18, 22, 24, 23, 25, 27, 26};
    g.indices.insert(g.indices.end(), fixed, fixed + 42);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t b = 28 + 9 * i;
        const uint32_t squares[12] = {b + 3, b + 1, b + 4, b + 2, b + 4, b + 1,
                                      b + 7, b + 5, b + 8, b + 6, b + 8, b + 5};
        g.indices.insert(g.indices.end(), squares, squares + 12);
    }
    g.triangleIndexCount = static_cast<uint32_t>(g.indices.size()) - g.lineIndexCount;
    return g;
}

float OpenSlideDistance(float clientHeight) {
    return std::clamp(clientHeight - kHandleStripHeight, 0.0f, kSlideDistance);
}

int32_t OpenPanelBottom(int32_t clientHeight) {
    const float shortfall = kSlideDistance - OpenSlideDistance(static_cast<float>(clientHeight));
    return clientHeight + static_cast<int32_t>(shortfall);
}

uint32_t AdvanceSlide(uint32_t* state, float* slideTime, float* slideOffset, float frameClock,
                      float openDistance) {
    const uint32_t before = *state;
    if (before & kTabOpen) {
        *slideOffset = openDistance;
    } else if (before & kTabOpening) {
        *slideTime += frameClock;
        if (1.0f > *slideTime) {
            *slideOffset = openDistance * *slideTime;
        } else {
            *state = kTabOpen;
            *slideOffset = openDistance;
        }
    } else if (before & kTabClosing) {
        *slideTime += frameClock;
        if (1.0f > *slideTime) {
            *slideOffset = openDistance * (1.0f - *slideTime);
        } else {
            *state = kTabClosed;
            *slideOffset = 0.0f;
        }
    }
    return before;
}

}  // namespace UI
