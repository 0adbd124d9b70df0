// The panel's geometry numbers and its slide, without a device.
#include <gtest/gtest.h>

#include "ui/tab_layout.h"
#include "ui/tab_state.h"

namespace {

using namespace UI;

TEST(TabLayoutTest, TexturedGeometryAt1280By1024) {
    TexVertex v[kTexVertexCount];
    uint32_t indices[kTexIndexCount];
    BuildTexturedGeometry(640, 512, 10, 80, 0.15625f, 0.3125f, v, indices);
    EXPECT_FLOAT_EQ(v[0].x, -640.5f);
    EXPECT_FLOAT_EQ(v[0].y, -480.5f);
    EXPECT_FLOAT_EQ(v[17].x, -640.5f);
    EXPECT_FLOAT_EQ(v[17].y, -1152.5f);
    EXPECT_FLOAT_EQ(v[26].x, -20.5f);
    EXPECT_FLOAT_EQ(v[26].y, -753.0f);
    EXPECT_FLOAT_EQ(v[22].u, 179.0f / 512.0f);
    // The quad a, b, c, d is drawn as a, c, d, d, b, a.
    const uint32_t firstQuad[6] = {0, 2, 3, 3, 1, 0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(indices[i], firstQuad[i]);
    const uint32_t histogram[6] = {24, 26, 27, 27, 25, 24};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(indices[42 + i], histogram[i]);
}

TEST(TabLayoutTest, GraphMappingPutsTheEndsOnTheHistogramCorners) {
    const GraphMapping g = ComputeGraphMapping(640, 512);
    EXPECT_FLOAT_EQ(g.originX, -630.5f);
    EXPECT_FLOAT_EQ(g.scaleX, 610.0f);
    EXPECT_FLOAT_EQ(g.originY, -953.0f);
    EXPECT_FLOAT_EQ(g.scaleY, -200.0f);
    for (float hw : {200.0f, 640.0f, 1000.5f}) {
        const GraphMapping m = ComputeGraphMapping(hw, 300);
        EXPECT_FLOAT_EQ(m.originX + 1 * m.scaleX, -20.5f) << "position 1 at the histogram's right edge";
        EXPECT_FLOAT_EQ(m.originY - 1 * m.scaleY, -300 - 241.0f) << "alpha 1 at its top";
    }
}

TEST(TabLayoutTest, ColourGeometryCountsFollowThePoints) {
    const ControlPoint two[2] = {{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}};
    ColorGeometry g = BuildColorGeometry(640, 512, two, 2, 0, HslColor{0, 0, 0});
    EXPECT_EQ(g.vertices.size() * sizeof(ColorVertex), 1288u);
    EXPECT_EQ(g.lineIndexCount, 2u);
    EXPECT_EQ(g.triangleIndexCount, 66u);
    EXPECT_EQ(g.indices.size() * 4, 272u);
    g = BuildColorGeometry(640, 512, two, 1, 0, HslColor{0, 0, 0});
    EXPECT_EQ(g.vertices.size(), 37u);
    EXPECT_EQ(g.lineIndexCount, 0u);
    EXPECT_EQ(g.triangleIndexCount, 54u);
    g = BuildColorGeometry(640, 512, nullptr, 0, 0, HslColor{0, 0, 0});
    EXPECT_EQ(g.vertices.size(), 28u);
    EXPECT_EQ(g.triangleIndexCount, 42u);
}

TEST(TabLayoutTest, PointsAndPickerLandWhereTheyShould) {
    const ControlPoint two[2] = {{0, 0.2f, 0.3f, 0.4f, 0}, {1, 1, 1, 1, 1}};
    ColorGeometry g = BuildColorGeometry(640, 512, two, 2, 1, HslColor{360, 1, 1});
    EXPECT_FLOAT_EQ(g.vertices[28].x, -640 + 9.5f) << "position 0, alpha 0: the histogram's bottom-left";
    EXPECT_FLOAT_EQ(g.vertices[28].y, -512 - 441.0f);
    EXPECT_FLOAT_EQ(g.vertices[37].x, -20.5f);
    EXPECT_FLOAT_EQ(g.vertices[37].y, -512 - 241.0f);
    EXPECT_FLOAT_EQ(g.vertices[28 + 5].a, 1.0f) << "the inner square is opaque";
    EXPECT_FLOAT_EQ(g.vertices[28 + 5].r, 0.2f);
    EXPECT_FLOAT_EQ(g.vertices[28 + 1].b, 0.5f) << "an unselected point: grey outer square";
    EXPECT_FLOAT_EQ(g.vertices[28 + 1].r, 0.5f);
    EXPECT_FLOAT_EQ(g.vertices[37 + 1].r, 0.0f) << "the selected point: dark blue outer square";
    EXPECT_FLOAT_EQ(g.vertices[37 + 1].x - g.vertices[37].x, -6.0f);
    // Hue 360 puts the cursor on the field's right edge, saturation 1 on its top.
    EXPECT_FLOAT_EQ(g.vertices[6].x + 9, -640 + 189.5f);
    EXPECT_FLOAT_EQ(g.vertices[6].y + 1, -512 - 40.5f);
    EXPECT_FLOAT_EQ(g.vertices[22].y, -512 - 40.5f) << "lightness 1: the marker's tip at the bar's top";
    g = BuildColorGeometry(640, 512, two, 2, 7, HslColor{0, 0, 0});
    EXPECT_FLOAT_EQ(g.vertices[28 + 1].r, 0.5f) << "a selection past the end marks no point";
    EXPECT_FLOAT_EQ(g.vertices[37 + 1].r, 0.5f);
}

TEST(TabSlideTest, OpensInQuarterSecondsAndClosesInThreeEighths) {
    uint32_t state = kTabOpening;
    float time = 0, offset = 0;
    const float opening[4] = {160, 320, 480, 640};
    for (int frame = 0; frame < 4; ++frame) {
        EXPECT_EQ(AdvanceSlide(&state, &time, &offset, 0.25f), kTabOpening);
        EXPECT_FLOAT_EQ(offset, opening[frame]) << "frame " << frame;
    }
    EXPECT_EQ(state, kTabOpen) << "slideTime exactly 1 ends the slide";
    EXPECT_EQ(AdvanceSlide(&state, &time, &offset, 0.25f), kTabOpen);
    EXPECT_FLOAT_EQ(offset, 640);

    state = kTabClosing;
    time = 0;
    const float closing[3] = {400, 160, 0};
    for (int frame = 0; frame < 3; ++frame) {
        AdvanceSlide(&state, &time, &offset, 0.375f);
        EXPECT_FLOAT_EQ(offset, closing[frame]) << "frame " << frame;
    }
    EXPECT_EQ(state, kTabClosed);
    EXPECT_FLOAT_EQ(time, 1.125f);

    state = kTabOpening;
    time = 0;
    offset = 0;
    AdvanceSlide(&state, &time, &offset, 0.0f);
    EXPECT_EQ(state, kTabOpening) << "a zero frame keeps the slide under way";
    AdvanceSlide(&state, &time, &offset, 1.5f);
    EXPECT_EQ(state, kTabOpen) << "one long frame completes the slide";
    EXPECT_FLOAT_EQ(offset, 640);
}

// The open panel's rise: its full 640 px wherever the handle strip still fits
// above it, otherwise the strip's top meets the client's top edge.
TEST(TabSlideTest, AShortClientAreaStopsThePanelWithItsHandleInside) {
    EXPECT_FLOAT_EQ(OpenSlideDistance(1024), 640);
    EXPECT_FLOAT_EQ(OpenSlideDistance(672), 640);
    EXPECT_FLOAT_EQ(OpenSlideDistance(671), 639);
    EXPECT_FLOAT_EQ(OpenSlideDistance(580), 548);
    EXPECT_FLOAT_EQ(OpenSlideDistance(20), 0) << "no room for the strip: the panel stays down";

    uint32_t state = kTabOpening;
    float time = 0, offset = 0;
    AdvanceSlide(&state, &time, &offset, 0.5f, 548);
    EXPECT_FLOAT_EQ(offset, 274) << "the slide still takes one second";
    AdvanceSlide(&state, &time, &offset, 0.5f, 548);
    EXPECT_EQ(state, kTabOpen);
    EXPECT_FLOAT_EQ(offset, 548);
    AdvanceSlide(&state, &time, &offset, 0.1f, 640);
    EXPECT_FLOAT_EQ(offset, 640) << "an open panel follows the window's new height";
}

}  // namespace
