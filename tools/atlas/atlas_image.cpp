#include "tools/atlas/atlas_image.h"

#include "ui/hsl.h"

#include <algorithm>
#include <cmath>

namespace atlas {
namespace {

struct Rgba {
    float r, g, b, a;
};

// The panel's palette: a dark slate that stays readable over a bright volume.
constexpr Rgba kTabFill{0.20f, 0.22f, 0.26f, 0.94f};
constexpr Rgba kTabEdge{0.42f, 0.46f, 0.54f, 1.0f};
constexpr Rgba kGrip{0.62f, 0.66f, 0.74f, 1.0f};
constexpr Rgba kPanelFill{0.13f, 0.14f, 0.17f, 0.90f};
constexpr Rgba kClear{0, 0, 0, 0};

class Canvas {
  public:
    Canvas() : pixels_(static_cast<size_t>(kSize) * kSize * 4, 0) {}

    void Put(int x, int y, const Rgba& c) {
        if (x < 0 || y < 0 || x >= kSize || y >= kSize)
            return;
        uint8_t* p = &pixels_[(static_cast<size_t>(y) * kSize + x) * 4];
        const float channels[4] = {c.r, c.g, c.b, c.a};
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<uint8_t>(std::lround(std::clamp(channels[i], 0.0f, 1.0f) * 255));
    }

    // Fills the texels of [x0, x1) x [y0, y1).
    void Fill(int x0, int y0, int x1, int y1, const Rgba& c) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x)
                Put(x, y, c);
    }

    std::vector<uint8_t> Take() { return std::move(pixels_); }

  private:
    std::vector<uint8_t> pixels_;
};

// Fraction of a texel inside a shape, by 4 x 4 supersampling, for smooth edges.
template <typename Inside>
float Coverage(int x, int y, Inside inside) {
    int hits = 0;
    for (int sy = 0; sy < 4; ++sy)
        for (int sx = 0; sx < 4; ++sx)
            if (inside(x + (sx + 0.5f) / 4.0f, y + (sy + 0.5f) / 4.0f))
                ++hits;
    return hits / 16.0f;
}

Rgba WithAlpha(Rgba c, float coverage) {
    c.a *= coverage;
    return c;
}

// The tab: rows 0-3 are empty so the tab stands up from the strip, its top
// corners are rounded in the caps, a light edge runs along its outline and a
// row of grip lines sits in the middle part.
constexpr int kTabTop = 4;
constexpr float kCornerRadius = 10.0f;

bool InsideTab(float x, float y, float left, float right) {
    if (y < kTabTop || x < left || x > right)
        return false;
    const float cy = kTabTop + kCornerRadius;
    if (y >= cy)
        return true;
    float cx = x;
    if (x < left + kCornerRadius)
        cx = left + kCornerRadius;
    if (x > right - kCornerRadius)
        cx = right - kCornerRadius;
    return std::hypot(x - cx, y - cy) <= kCornerRadius;
}

// Draws one cap (16 texels) as the left or right end of a tab whose body
// continues beyond the cap's inner edge.
void DrawCap(Canvas& canvas, int x0, bool leftEnd) {
    const float left = leftEnd ? x0 + 1.0f : x0 - 64.0f;
    const float right = leftEnd ? x0 + 80.0f : x0 + 15.0f;
    for (int y = 0; y < 32; ++y) {
        for (int x = x0; x < x0 + 16; ++x) {
            float body = Coverage(x, y, [&](float px, float py) { return InsideTab(px, py, left, right); });
            float inner = Coverage(x, y, [&](float px, float py) {
                return InsideTab(px, py - 1.5f, left + 1.5f, right - 1.5f);
            });
            Rgba c = kTabFill;
            float edge = body - inner;
            c.r = c.r * (1 - edge) + kTabEdge.r * edge;
            c.g = c.g * (1 - edge) + kTabEdge.g * edge;
            c.b = c.b * (1 - edge) + kTabEdge.b * edge;
            canvas.Put(x, y, WithAlpha(c, body));
        }
    }
}

void DrawHandle(Canvas& canvas) {
    // Strip patches left (0-16) and right (64-80) of the handle: see-through,
    // but the bottom two rows carry the tab's edge colour, so a line joins the
    // handle across the window and marks the panel's top edge.
    for (int x0 : {0, 64}) {
        canvas.Fill(x0, 0, x0 + 16, 30, kClear);
        canvas.Fill(x0, 30, x0 + 16, 32, kTabEdge);
    }
    DrawCap(canvas, 16, true);
    DrawCap(canvas, 48, false);
    // Middle part (80-160): body with the top edge line and three grip lines.
    for (int y = 0; y < 32; ++y) {
        for (int x = 80; x < 160; ++x) {
            if (y < kTabTop) {
                canvas.Put(x, y, kClear);
            } else if (y < kTabTop + 2) {
                canvas.Put(x, y, kTabEdge);
            } else {
                canvas.Put(x, y, kTabFill);
            }
        }
    }
    for (int line = 0; line < 3; ++line) {
        const int y = 13 + line * 4;
        canvas.Fill(104, y, 136, y + 2, kGrip);
    }
}

void DrawPanelBackground(Canvas& canvas) {
    // Stretched over the whole panel with point sampling: a flat colour, so the
    // stretch shows no pattern.
    canvas.Fill(0, 32, 32, 64, kPanelFill);
}

// A circular arrow, three quarters of a ring with a head, white on a dark
// outline so it reads over bright and dark volumes alike.
void DrawRotationIcon(Canvas& canvas) {
    constexpr float kCx = 496.0f, kCy = 16.0f, kRadius = 10.0f, kHalfWidth = 2.0f;
    constexpr float kPi = 3.14159265f;
    // The ring runs from 45 degrees round to 315 degrees (measured from +x,
    // screen y down), leaving the upper right open for the head.
    auto onRing = [&](float px, float py, float grow) {
        float dx = px - kCx, dy = py - kCy;
        float r = std::hypot(dx, dy);
        if (std::fabs(r - kRadius) > kHalfWidth + grow)
            return false;
        float angle = std::atan2(dy, dx);
        if (angle < 0)
            angle += 2 * kPi;
        return angle >= kPi / 4 - grow / kRadius && angle <= 7 * kPi / 4 + grow / kRadius;
    };
    // The head at the ring's 315-degree end, pointing along the turn.
    const float endAngle = 7 * kPi / 4;
    const float ex = kCx + kRadius * std::cos(endAngle), ey = kCy + kRadius * std::sin(endAngle);
    const float tx = -std::sin(endAngle), ty = std::cos(endAngle);  // direction of travel at the end
    const float nx = std::cos(endAngle), ny = std::sin(endAngle);   // outward normal
    auto inHead = [&](float px, float py, float grow) {
        // Triangle: tip 7 texels ahead, base 6 texels either side of the ring.
        float ax = ex + tx * (7 + grow), ay = ey + ty * (7 + grow);
        float bx = ex + nx * (6 + grow) - tx * grow, by = ey + ny * (6 + grow) - ty * grow;
        float cx = ex - nx * (6 + grow) - tx * grow, cy = ey - ny * (6 + grow) - ty * grow;
        auto side = [](float x0, float y0, float x1, float y1, float x, float y) {
            return (x1 - x0) * (y - y0) - (y1 - y0) * (x - x0);
        };
        float s0 = side(ax, ay, bx, by, px, py), s1 = side(bx, by, cx, cy, px, py),
              s2 = side(cx, cy, ax, ay, px, py);
        return (s0 >= 0 && s1 >= 0 && s2 >= 0) || (s0 <= 0 && s1 <= 0 && s2 <= 0);
    };
    for (int y = 0; y < 32; ++y) {
        for (int x = 480; x < 512; ++x) {
            float fill =
                Coverage(x, y, [&](float px, float py) { return onRing(px, py, 0) || inHead(px, py, 0); });
            float outline = Coverage(
                x, y, [&](float px, float py) { return onRing(px, py, 1.5f) || inHead(px, py, 1.5f); });
            Rgba c{fill, fill, fill, 0};
            // White over a dark halo: colour comes from the fill, opacity from the outline.
            c.r = c.g = c.b = outline > 0 ? fill / outline : 0;
            c.a = outline * 0.95f;
            canvas.Put(x, y, c);
        }
    }
}

void DrawChart(Canvas& canvas) {
    for (int row = 0; row < kChartHeight; ++row) {
        for (int column = 0; column < kChartWidth; ++column) {
            float hue, saturation;
            ChartColourAt(column, row, &hue, &saturation);
            const RgbaColor c = HslToRgba(HslColor{hue, saturation, 0.5f}, 1.0f);
            canvas.Put(kChartLeft + column, kChartTop + row, Rgba{c.red, c.green, c.blue, c.alpha});
        }
    }
}

}  // namespace

void ChartColourAt(int column, int row, float* hue, float* saturation) {
    *hue = (column + 0.5f) * 360.0f / kChartWidth;
    *saturation = 1.0f - (row + 0.5f) / kChartHeight;
}

std::vector<uint8_t> DrawInterfaceAtlas() {
    Canvas canvas;
    DrawHandle(canvas);
    DrawPanelBackground(canvas);
    DrawRotationIcon(canvas);
    DrawChart(canvas);
    return canvas.Take();
}

std::vector<uint8_t> DrawDesktopIcon(const std::vector<uint8_t>& atlasPixels) {
    std::vector<uint8_t> icon(static_cast<size_t>(kIconSize) * kIconSize * 4);
    constexpr float kCorner = 6.0f, kHalf = kIconSize / 2.0f;
    for (int y = 0; y < kIconSize; ++y) {
        for (int x = 0; x < kIconSize; ++x) {
            // Coverage of the rounded square, antialiased over a pixel.
            const float qx = std::max(std::fabs(x + 0.5f - kHalf) - (kHalf - kCorner), 0.0f);
            const float qy = std::max(std::fabs(y + 0.5f - kHalf) - (kHalf - kCorner), 0.0f);
            const float back = std::clamp(kCorner + 0.5f - std::hypot(qx, qy), 0.0f, 1.0f);
            const uint8_t* a = &atlasPixels[(static_cast<size_t>(y) * kSize + kIconLeft + x) * 4];
            const float fa = a[3] / 255.0f;
            const float outA = fa + back * (1 - fa);
            uint8_t* out = &icon[(static_cast<size_t>(y) * kIconSize + x) * 4];
            const float backColour[3] = {0, 0, 128};
            for (int c = 0; c < 3; ++c) {
                const float v = outA > 0 ? (a[c] * fa + backColour[c] * back * (1 - fa)) / outA : 0;
                out[c] = static_cast<uint8_t>(std::lround(v));
            }
            out[3] = static_cast<uint8_t>(std::lround(outA * 255));
        }
    }
    return icon;
}

}  // namespace atlas
