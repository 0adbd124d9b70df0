// The panel's press bands and cursor confinements against the geometry that is
// actually drawn, for tall, short and odd-sized client areas: a press band
// must lie on the element it belongs to wherever the open panel stands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "ui/tab_layout.h"

namespace {

using namespace UI;

// Continuous client coordinates: x right from the client's left edge, y down
// from its top edge; pixel (x, y) covers [x, x + 1] x [y, y + 1].
struct ClientRect {
    float left, right, top, bottom;
};
// Whole client pixels, bounds inclusive.
struct Pixels {
    int32_t left, right, top, bottom;
};
// How far a band may reach past its element's drawn edges.
struct Reach {
    float left, right, top, bottom;
};

// The open panel as it is drawn and pressed in a client area w x h.
struct OpenPanel {
    OpenPanel(int32_t w, int32_t h)
        : width(w), height(h), hw(static_cast<float>(w) * 0.5f), hh(static_cast<float>(h) * 0.5f) {
        slide = OpenSlideDistance(static_cast<float>(h));
        bottom = OpenPanelBottom(h);
        BuildTexturedGeometry(hw, hh, 10, 80, 0.15625f, 0.3125f, tex, indices);
        const ControlPoint ends[2] = {{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}};
        color = BuildColorGeometry(hw, hh, ends, 2, 0, HslColor{0, 0, 0});
        layout = LayOutPanel(hw, 10, 80);
    }

    // The bounds of some drawn vertices, moved up by the slide, in client coordinates.
    template <typename Vertex>
    ClientRect Drawn(const Vertex* v, int first, int last, float rise) const {
        ClientRect r{1e9f, -1e9f, 1e9f, -1e9f};
        for (int i = first; i <= last; ++i) {
            const float x = v[i].x + hw, y = hh - (v[i].y + rise);
            r = {std::min(r.left, x), std::max(r.right, x), std::min(r.top, y), std::max(r.bottom, y)};
        }
        return r;
    }
    ClientRect DrawnTex(int first, int last) const { return Drawn(tex, first, last, slide); }
    ClientRect DrawnColor(int first, int last) const {
        return Drawn(color.vertices.data(), first, last, slide);
    }

    Pixels Band(const PressBand& b) const { return {b.left, b.right, bottom - b.top, bottom - b.bottom}; }
    // A confinement's pixels: its right column and bottom row are exclusive.
    Pixels Clip(const ClipBand& c) const {
        return {c.left, c.right - 1, bottom - c.top, bottom - c.bottom - 1};
    }

    int32_t width, height;
    float hw, hh, slide = 0;
    int32_t bottom = 0;
    TexVertex tex[kTexVertexCount];
    uint32_t indices[kTexIndexCount];
    ColorGeometry color;
    PanelLayout layout;
};

// Every pixel centre of p lies inside r grown by reach (edges included).
::testing::AssertionResult CentresOn(const Pixels& p, const ClientRect& r,
                                     const Reach& reach = {0, 0, 0, 0}) {
    const bool in = r.left - reach.left <= p.left + 0.5f && p.right + 0.5f <= r.right + reach.right &&
                    r.top - reach.top <= p.top + 0.5f && p.bottom + 0.5f <= r.bottom + reach.bottom;
    if (in)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "pixels x " << p.left << ".." << p.right << ", y " << p.top << ".." << p.bottom << " leave x "
           << r.left << ".." << r.right << ", y " << r.top << ".." << r.bottom;
}

// The pixels a rectangle is rasterised onto: centres on its left and top
// edges are drawn, on its right and bottom edges not.
Pixels Rasterised(const ClientRect& r) {
    return {
        static_cast<int32_t>(std::ceil(r.left - 0.5f)), static_cast<int32_t>(std::ceil(r.right - 0.5f)) - 1,
        static_cast<int32_t>(std::ceil(r.top - 0.5f)), static_cast<int32_t>(std::ceil(r.bottom - 0.5f)) - 1};
}

bool operator==(const Pixels& a, const Pixels& b) {
    return a.left == b.left && a.right == b.right && a.top == b.top && a.bottom == b.bottom;
}

// Tall, exactly tall enough, short (the panel rises less than its 640 px),
// odd widths, and so short that only the strip shows.
constexpr int32_t kSizes[][2] = {{1280, 1024}, {400, 700}, {640, 672}, {800, 600}, {401, 561}, {333, 300}};

std::string SizeName(int32_t w, int32_t h) {
    return std::to_string(w) + " x " + std::to_string(h);
}

TEST(PanelLayoutTest, EveryPressBandLiesOnTheElementItBelongsTo) {
    for (const auto& size : kSizes) {
        const OpenPanel p(size[0], size[1]);
        SCOPED_TRACE(SizeName(p.width, p.height));
        const PanelLayout& l = p.layout;

        // The handle: the columns strictly between its press edges, the strip's rows.
        const Pixels handle{static_cast<int32_t>(std::floor(l.handlePressLeft)) + 1,
                            static_cast<int32_t>(std::ceil(l.handlePressRight)) - 1,
                            p.bottom - (l.stripTop - 1), p.bottom - l.panelTop};
        EXPECT_TRUE(CentresOn(handle, p.DrawnTex(2, 13))) << "the open handle";
        // Closed, the strip's rows count up from the client's bottom edge.
        const int32_t closedRows = l.stripTop - l.panelTop;
        const Pixels closedHandle{handle.left, handle.right, p.height - (closedRows - 1), p.height - 1};
        EXPECT_TRUE(CentresOn(closedHandle, p.Drawn(p.tex, 2, 13, 0))) << "the closed handle";

        // The field also takes the column right of it, where the hue comes to 360.
        EXPECT_TRUE(CentresOn(p.Band(l.fieldPress), p.DrawnTex(20, 23), {0, 1, 0, 0})) << "the field";
        EXPECT_TRUE(CentresOn(p.Band(l.barPress), p.DrawnColor(0, 5))) << "the lightness bar";

        // The graph takes presses a point's reach above and below the
        // histogram, and across the panel's left half.
        const ClientRect histogram = p.DrawnTex(24, 27);
        const float reach = static_cast<float>(l.pointReach);
        EXPECT_TRUE(CentresOn(p.Band(l.graphPress),
                              {p.DrawnTex(16, 19).left, p.hw, histogram.top, histogram.bottom},
                              {0, 0, reach, reach}))
            << "the graph";
        EXPECT_TRUE(CentresOn(p.Band(l.graphPress), p.DrawnTex(16, 19))) << "the graph, on the panel";
    }
}

// Every position and opacity a point can take has its pixel in the graph's
// band, so each point can be pressed; the mapping is the drawn one.
TEST(PanelLayoutTest, TheGraphBandHoldsEveryPointsPixel) {
    for (const auto& size : kSizes) {
        const OpenPanel p(size[0], size[1]);
        SCOPED_TRACE(SizeName(p.width, p.height));
        const GraphMapping g = ComputeGraphMapping(p.hw, p.hh);
        const PressBand& band = p.layout.graphPress;
        for (float position : {0.0f, 0.5f, 1.0f})
            for (float alpha : {0.0f, 0.5f, 1.0f}) {
                const float x = g.originX + position * g.scaleX + p.hw;
                const float y = p.hh - (g.originY - alpha * g.scaleY + p.slide);
                // A point's centre lies on the line between two rows; the
                // mouse counts the row above it.
                const int32_t d = p.bottom - (static_cast<int32_t>(std::ceil(y)) - 1);
                EXPECT_TRUE(band.Contains(static_cast<int32_t>(std::floor(x)), d))
                    << "position " << position << ", opacity " << alpha;
                EXPECT_EQ(d - p.layout.alphaZeroRow, static_cast<int32_t>(std::round(200 * alpha)))
                    << "opacity maps back from the row it is drawn on";
            }
    }
}

// A drag in the picker confines the cursor to exactly the pixels the field or
// the bar is drawn on; an end point's drag keeps to the column it is drawn in
// and to the histogram's rows.
TEST(PanelLayoutTest, ConfinementsAreTheDrawnPixels) {
    for (const auto& size : kSizes) {
        const OpenPanel p(size[0], size[1]);
        SCOPED_TRACE(SizeName(p.width, p.height));
        const PanelLayout& l = p.layout;
        EXPECT_TRUE(p.Clip(l.fieldClip) == Rasterised(p.DrawnTex(20, 23))) << "the field";
        EXPECT_TRUE(p.Clip(l.barClip) == Rasterised(p.DrawnColor(0, 5))) << "the lightness bar";

        const ClientRect histogram = p.DrawnTex(24, 27);
        const ClientRect first = p.DrawnColor(28, 28), last = p.DrawnColor(37, 37);
        EXPECT_TRUE(CentresOn(p.Clip(l.firstPointClip),
                              {first.left, first.left, histogram.top, histogram.bottom}, {0.5f, 0.5f, 0, 0}))
            << "the first point";
        EXPECT_TRUE(CentresOn(p.Clip(l.lastPointClip),
                              {last.left, last.left, histogram.top, histogram.bottom}, {0.5f, 0.5f, 0, 0}))
            << "the last point";
        // The picker's values run over the rows of the drawn field: 0 on the
        // row below it, 1 on its top row.
        const Pixels field = Rasterised(p.DrawnTex(20, 23));
        EXPECT_EQ(p.bottom - l.pickerZeroRow, field.bottom + 1);
        EXPECT_EQ(p.bottom - (l.pickerZeroRow + l.pickerRows), field.top);
    }
}

}  // namespace
