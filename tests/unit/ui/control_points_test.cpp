// The control points in client pixels and in their list.
#include <gtest/gtest.h>

#include <limits>

#include "ui/control_points.h"
#include "ui/tab_layout.h"

namespace {

using UI::GraphPixels;

// The graph of an 800 x 600 client area: 170 pixels per unit of position
// from 190.5 left of the centre, 200 rows per unit of opacity upwards.
GraphPixels Graph800x600() {
    GraphPixels graph;
    graph.scaleX = 170.0f;
    graph.originX = -190.5f;
    graph.halfWidth = 400.0f;
    graph.scaleY = -200.0f;
    graph.openPanelBottom = UI::OpenPanelBottom(600);
    graph.alphaZeroRow = UI::LayOutPanel(400.0f, 10.0f, 80.0f).alphaZeroRow;
    return graph;
}

TEST(ControlPointsTest, PixelsAndGraphValuesMapBothWays) {
    const GraphPixels graph = Graph800x600();
    EXPECT_EQ(graph.XOfPosition(0.0f), 209);
    EXPECT_EQ(graph.XOfPosition(1.0f), 379);
    EXPECT_EQ(graph.YOfOpacity(1.0f) - graph.YOfOpacity(0.0f), -200) << "opacity rises up the screen";
    for (float value : {0.0f, 0.25f, 0.5f, 1.0f}) {
        EXPECT_NEAR(graph.PositionOfX(graph.XOfPosition(value)), value, 1.0f / 170.0f);
        EXPECT_NEAR(graph.OpacityOfY(graph.YOfOpacity(value)), value, 1.0f / 200.0f);
    }
}

TEST(ControlPointsTest, APressHitsTheFirstMarkerWithinReach) {
    const GraphPixels graph = Graph800x600();
    const ControlPoint points[3] = {{0, 0, 0, 0, 0}, {0.5f, 1, 1, 1, 0.5f}, {0.51f, 1, 1, 1, 0.5f}};
    const int32_t x = graph.XOfPosition(0.5f), y = graph.YOfOpacity(0.5f);
    EXPECT_EQ(UI::HitTestControlPoint(points, 3, graph, 4, x, y), 1u) << "overlapping markers: the first";
    EXPECT_EQ(UI::HitTestControlPoint(points, 3, graph, 4, x - 4, y + 4), 1u);
    EXPECT_EQ(UI::HitTestControlPoint(points, 3, graph, 4, x + 4, y - 4), 1u) << "its right and top edges";
    EXPECT_EQ(UI::HitTestControlPoint(points, 3, graph, 4, x - 5, y), UI::kNoPoint);
    EXPECT_EQ(UI::HitTestControlPoint(points, 3, graph, 4, x, y - 5), UI::kNoPoint);
    EXPECT_EQ(UI::HitTestControlPoint(points, 3, graph, 4, x + 5, y), 2u) << "the next point's marker";
    EXPECT_EQ(UI::HitTestControlPoint(points, 0, graph, 4, x, y), UI::kNoPoint);
}

// A loaded function may hold NaN or huge values; such a point has no pixel
// and is never hit, wherever the press is.
TEST(ControlPointsTest, PointsWithoutAPixelAreNeverHit) {
    const GraphPixels graph = Graph800x600();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const ControlPoint odd[4] = {
        {0, 0, 0, 0, nan}, {nan, 1, 1, 1, 0.5f}, {1, 1, 1, 1, 1e30f}, {-inf, 1, 1, 1, 0.5f}};
    for (int x = -10; x < 800; x += 3)
        for (int y = -10; y < 600; y += 7)
            ASSERT_EQ(UI::HitTestControlPoint(odd, 4, graph, 4, x, y), UI::kNoPoint) << x << "," << y;
    EXPECT_EQ(graph.XOfPosition(nan), graph.XOfPosition(1e30f)) << "both far off to the right";
    EXPECT_LT(graph.XOfPosition(-inf), -1000000);
}

TEST(ControlPointsTest, InsertingAndRemovingKeepTheOthersInOrder) {
    const ControlPoint ends[2] = {{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}};
    const ControlPoint middle{0.25f, 0.5f, 0.5f, 0.5f, 0.75f};
    const auto three = UI::PointsWithInserted(ends, 2, 1, middle);
    EXPECT_EQ(three[0].position, 0.0f);
    EXPECT_EQ(three[1].alpha, 0.75f);
    EXPECT_EQ(three[2].position, 1.0f);
    const auto atTheEnd = UI::PointsWithInserted(three.get(), 3, 3, middle);
    EXPECT_EQ(atTheEnd[2].position, 1.0f);
    EXPECT_EQ(atTheEnd[3].position, 0.25f);

    const auto back = UI::PointsWithRemoved(three.get(), 3, 1);
    EXPECT_EQ(back[0].position, 0.0f);
    EXPECT_EQ(back[1].position, 1.0f);
    EXPECT_EQ(back[1].red, 1.0f);
    const auto withoutFirst = UI::PointsWithRemoved(three.get(), 3, 0);
    EXPECT_EQ(withoutFirst[0].position, 0.25f);
    EXPECT_EQ(withoutFirst[1].position, 1.0f);
}

}  // namespace
