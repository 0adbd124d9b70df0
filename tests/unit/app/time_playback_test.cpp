// Playing a series as plain computation: the line naming the point and its
// time, the steps at the ends, and one point per period however frames fall.
#include <gtest/gtest.h>

#include <vector>

#include "app/time_playback.h"

namespace {

TEST(TimePlayback, TheLineIsPointFromOneOfCountAndIndexTimesStepWithOneDecimal) {
    EXPECT_EQ(TimePointText(11, 40, 0.5, "s"), "t 12 / 40, 5.5 s");
    EXPECT_EQ(TimePointText(0, 40, 0.5, "s"), "t 1 / 40, 0.0 s") << "the first point is at time 0";
    EXPECT_EQ(TimePointText(3, 7, 0.04, "ms"), "t 4 / 7, 0.1 ms") << "rounded, in the file's unit";
    EXPECT_EQ(TimePointText(11, 40, 0, "s"), "t 12 / 40") << "no known step: no time";
}

TEST(TimePlayback, StepsGoRoundTheEndsOnlyWithLoop) {
    EXPECT_EQ(SteppedTimePoint(0, 5, -1, true), 4u);
    EXPECT_EQ(SteppedTimePoint(4, 5, 1, true), 0u);
    EXPECT_EQ(SteppedTimePoint(0, 5, -1, false), 0u);
    EXPECT_EQ(SteppedTimePoint(4, 5, 1, false), 4u);
    TimePlayback play;
    play.loop = false;
    EXPECT_EQ(StartPlaying(&play, 4, 5), 0u) << "Play at the end of a series that does not loop starts over";
}

TEST(TimePlayback, OnePointPerPeriodAndNoHurryAfterASlowFrame) {
    TimePlayback play;  // 10 per second
    uint32_t shown = StartPlaying(&play, 0, 4);
    std::vector<uint32_t> points;
    for (int frame = 0; frame < 22; ++frame)  // 30 ms frames for 0.66 s
        if (const auto next = AdvancePlayback(&play, 0.03, shown, 4))
            points.push_back(shown = *next);
    EXPECT_EQ(points, (std::vector<uint32_t>{1, 2, 3, 0, 1, 2})) << "six periods, round the end";
    ASSERT_TRUE(AdvancePlayback(&play, 2.0, shown, 4).has_value()) << "a stall shows the next point";
    EXPECT_FALSE(AdvancePlayback(&play, 0.0, 3, 4).has_value()) << "but not twenty at once";
    play.loop = false;
    EXPECT_EQ(AdvancePlayback(&play, 1.0, 2, 4), std::optional<uint32_t>(3));
    EXPECT_FALSE(play.playing) << "without loop the play ends on the last point";
}

}  // namespace
