// The editor object's point list without a device: the default function,
// what inserting and deleting select, installing a loaded function,
// releasing twice.
#include <gtest/gtest.h>

#include "ui/tab.h"

namespace {

TEST(TabPointsTest, DefaultFunctionAndSelection) {
    UI::CTab tab;
    ASSERT_EQ(tab.pointCount, 2u);
    EXPECT_EQ(tab.points[0].alpha, 0.0f);
    EXPECT_EQ(tab.points[1].position, 1.0f);
    EXPECT_EQ(tab.points[1].red, 1.0f);
    EXPECT_EQ(tab.selectedPoint, 0u);
    EXPECT_EQ(tab.selectedHsl.lightness, 0.0f);
    EXPECT_EQ(tab.state, UI::kTabClosed);
    tab.Release();
    tab.Release();  // nothing held, nothing to do, twice
    EXPECT_EQ(tab.transferView, nullptr);
}

TEST(TabPointsTest, InsertThenDeleteGivesBackTheEnds) {
    UI::CTab tab;
    tab.dragMode = UI::kDragFirstPoint;
    tab.InsertPoint(1, 0.25f, 0.75f);
    ASSERT_EQ(tab.pointCount, 3u);
    EXPECT_EQ(tab.points[1].position, 0.25f);
    EXPECT_EQ(tab.points[1].red, 0.5f) << "a new point is grey";
    EXPECT_EQ(tab.points[1].alpha, 0.75f);
    EXPECT_EQ(tab.points[2].position, 1.0f);
    EXPECT_EQ(tab.selectedPoint, 1u);
    EXPECT_EQ(tab.selectedHsl.lightness, 0.5f);
    EXPECT_EQ(tab.dragMode, UI::kDragFirstPoint) << "inserting does not touch the drag";
    tab.DeletePoint(1);
    ASSERT_EQ(tab.pointCount, 2u);
    EXPECT_EQ(tab.points[0].position, 0.0f);
    EXPECT_EQ(tab.points[1].alpha, 1.0f);
}

TEST(TabPointsTest, ReplacingTheFunctionSelectsItsFirstPoint) {
    UI::CTab tab;
    tab.selectedPoint = 1;
    const ControlPoint loaded[3] = {{0, 1, 0, 0, 0}, {0.5f, 0, 1, 0, 0.5f}, {1, 0, 0, 1, 1}};
    tab.ReplacePoints(loaded, 3);
    EXPECT_EQ(tab.pointCount, 3u);
    EXPECT_EQ(tab.selectedPoint, 0u);
    EXPECT_FLOAT_EQ(tab.selectedHsl.hue, 0.0f);
    EXPECT_FLOAT_EQ(tab.selectedHsl.saturation, 1.0f) << "the picker shows point 0's red";
    EXPECT_FLOAT_EQ(tab.selectedHsl.lightness, 0.5f);
}

}  // namespace
