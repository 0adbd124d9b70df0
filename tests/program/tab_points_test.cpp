// The editor object's point list without a device: the default function,
// what inserting and deleting select, installing a loaded function,
// releasing twice.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/shell/shell.h"
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

bool Same(const UI::PointList& a, const UI::PointList& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const auto& p, const auto& q) {
               return p.position == q.position && p.red == q.red && p.green == q.green && p.alpha == q.alpha;
           });
}

// Each channel's own function (starting as its ramp) and history; one
// channel gets back the panel's function. (No device: the geometry's boxes
// are taken away.)
TEST(TabPointsTest, EachChannelKeepsItsOwnFunctionAndHistory) {
    shell::testing::RecordMessageBoxes(true);
    UI::CTab tab;
    const ControlPoint own[3] = {{0, 1, 0, 0, 0}, {0.5f, 0, 1, 0, 0.5f}, {1, 0, 0, 1, 1}};
    tab.ReplacePoints(own, 3);
    tab.SetChannels({0x00FF00, 0xFF00FF});
    ASSERT_EQ(tab.channelCount, 2u);
    EXPECT_TRUE(Same(tab.Points(), ChannelRamp(0x00FF00)));
    EXPECT_TRUE(tab.Points()[0].alpha == 0 && tab.Points()[1].alpha > 0 && tab.Points()[1].green == 1);
    const UI::PointList before = tab.Points();
    tab.InsertPoint(1, 0.5f, 0.25f);  // as the panel's click does, with its step
    tab.history.Record(before, tab.Points());
    EXPECT_TRUE(tab.SelectChannel(1));
    EXPECT_TRUE(Same(tab.Points(), ChannelRamp(0xFF00FF)));
    EXPECT_FALSE(tab.history.CanUndo()) << "channel 1 has its own history";
    EXPECT_FALSE(tab.SelectChannel(1) || tab.SelectChannel(2)) << "edited already; no such channel";
    EXPECT_TRUE(tab.SelectChannel(0) && tab.Points().size() == 3u && tab.UndoEdit());
    EXPECT_TRUE(Same(tab.Points(), ChannelRamp(0x00FF00))) << "undo acts on the edited channel";
    const UI::PointList loaded = {{0, 0, 0, 1, 0}, {1, 1, 1, 1, 0.25f}};
    tab.SetChannelPoints(1, loaded);
    EXPECT_TRUE(Same(tab.ChannelPoints(1), loaded) && Same(tab.Points(), ChannelRamp(0x00FF00)));
    tab.SetChannels({0x00FF00});
    EXPECT_EQ(tab.channelCount, 1u);
    EXPECT_TRUE(Same(tab.Points(), UI::PointList(own, own + 3))) << "one channel: the panel's function";
    shell::testing::TakeMessageBoxes();
    shell::testing::RecordMessageBoxes(false);
}

}  // namespace
