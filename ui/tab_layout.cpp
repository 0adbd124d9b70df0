#include "ui/tab_layout.h"

#include <algorithm>

#include "ui/tab.h"

namespace UI {

void BuildTexturedGeometry(float hw, float hh, float x, float width, float u0, float u1, TexVertex* v,
                           uint32_t* indices) {
    const float stripTop = -hh + 31.5f, stripBottom = -hh - 0.5f;
    const float left = -hw - 0.5f, right = hw - 0.5f;
    const float capLeftEnd = x - hw + 15.5f, middleEnd = x + width - hw + 15.5f;
    const float histogramRight = -20.5f;
    const TexVertex table[kTexVertexCount] = {
        {left, stripTop, 1, 0, 0},
        {left, stripBottom, 1, 0, 0.0625f},
        {x - hw - 0.5f, stripTop, 1, 0.03125f, 0},
        {x - hw - 0.5f, stripBottom, 1, 0.03125f, 0.0625f},
        {capLeftEnd, stripTop, 1, 0.0625f, 0},
        {capLeftEnd, stripBottom, 1, 0.0625f, 0.0625f},
        {capLeftEnd, stripTop, 1, u0, 0},
        {capLeftEnd, stripBottom, 1, u0, 0.0625f},
        {middleEnd, stripTop, 1, u1, 0},
        {middleEnd, stripBottom, 1, u1, 0.0625f},
        {middleEnd, stripTop, 1, 0.09375f, 0},
        {middleEnd, stripBottom, 1, 0.09375f, 0.0625f},
        {x + width - hw + 31.5f, stripTop, 1, 0.125f, 0},
        {x + width - hw + 31.5f, stripBottom, 1, 0.125f, 0.0625f},
        {right, stripTop, 1, 0.15625f, 0},
        {right, stripBottom, 1, 0.15625f, 0.0625f},
        {left, stripBottom, 1, 0, 0.0625f},
        {left, -hh - 640.5f, 1, 0, 0.125f},
        {right, stripBottom, 1, 0.0625f, 0.0625f},
        {right, -hh - 640.5f, 1, 0.0625f, 0.125f},
        {-hw + 9.5f, -hh - 40.5f, 1, 0, 0.6484375f},
        {-hw + 9.5f, -hh - 220.5f, 1, 0, 1},
        {-hw + 189.5f, -hh - 40.5f, 1, 179.0f / 512.0f, 0.6484375f},
        {-hw + 189.5f, -hh - 220.5f, 1, 179.0f / 512.0f, 1},
        {-hw + 9.5f, -hh - 241, 1, 0, 1},
        {-hw + 9.5f, -hh - 441, 1, 0, 0},
        {histogramRight, -hh - 241, 1, 1, 1},
        {histogramRight, -hh - 441, 1, 1, 0},
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
    GraphMapping g;
    g.originX = 10.0f - (hw + 0.5f);
    g.scaleX = -20.5f - g.originX;
    g.originY = -(hh + 0.5f) - 440.5f;
    g.scaleY = (-(hh + 0.5f) - 440.5f) - (-(hh + 0.5f) - 240.5f);
    return g;
}

ColorGeometry BuildColorGeometry(float hw, float hh, const ControlPoint* points, uint32_t n,
                                 uint32_t selected, const HslColor& hsl) {
    ColorGeometry g;
    const RgbaColor c = HslToRgba(HslColor{hsl.hue, hsl.saturation, 0.5f}, 1.0f);
    const float cx = -hw + 9.5f + hsl.hue * 180.0f / 360.0f;
    const float cy = -hh - 220.5f + 180.0f * hsl.saturation;
    const float ly = -hh - 220.5f + 180.0f * hsl.lightness;
    const float barLeft = -hw + 209.5f, barRight = -hw + 249.5f;
    const float barTop = -hh - 40.5f, barMiddle = -hh - 130.5f, barBottom = -hh - 220.5f;
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
    push(-hw + 251.5f, ly, 1, 1, 1, 1);
    push(-hw + 261.5f, ly - 10, 1, 1, 1, 1);
    push(-hw + 261.5f, ly + 10, 1, 1, 1, 1);
    push(-hw + 252.5f, ly, 0, 0, 0, 1);
    push(-hw + 260.5f, ly - 9, 0, 0, 0, 1);
    push(-hw + 260.5f, ly + 9, 0, 0, 0, 1);

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
