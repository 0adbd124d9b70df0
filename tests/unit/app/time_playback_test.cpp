// Playing a series as plain computation: the line naming the point and its
// time, the steps round or held at the ends, and the clock that shows one
// point per period however the frames fall.
#include <gtest/gtest.h>

#include <vector>

#include "app/time_playback.h"

namespace {

TEST(TimePointText, PointFromOneOfTheCountAndIndexTimesStepWithOneDecimal) {
    EXPECT_EQ(TimePointText(11, 40, 0.5, "s"), "t 12 / 40, 5.5 s");
    EXPECT_EQ(TimePointText(12, 40, 0.5, "s"), "t 13 / 40, 6.0 s") << "one decimal, kept when it is 0";
    EXPECT_EQ(TimePointText(0, 40, 0.5, "s"), "t 1 / 40, 0.0 s") << "the first point is at time 0";
    EXPECT_EQ(TimePointText(2, 3, 250, "ms"), "t 3 / 3, 500.0 ms") << "in the file's own unit";
    EXPECT_EQ(TimePointText(3, 7, 0.04, "s"), "t 4 / 7, 0.1 s") << "0.12 rounded to one decimal";
    EXPECT_EQ(TimePointText(11, 40, 0, "s"), "t 12 / 40") << "no known step: no time";
    EXPECT_EQ(TimePointText(1, 2, 2, ""), "t 2 / 2, 2.0") << "a step without a unit";
}

TEST(TimePlayback, StepsGoRoundTheEndsWithLoopAndStopThereWithout) {
    EXPECT_EQ(SteppedTimePoint(0, 5, -1, true), 4u);
    EXPECT_EQ(SteppedTimePoint(4, 5, 1, true), 0u);
    EXPECT_EQ(SteppedTimePoint(0, 5, -1, false), 0u);
    EXPECT_EQ(SteppedTimePoint(4, 5, 1, false), 4u);
    EXPECT_EQ(SteppedTimePoint(2, 5, 1, false), 3u);
    EXPECT_EQ(SteppedTimePoint(2, 5, -1, true), 1u);
    EXPECT_EQ(SteppedTimePoint(0, 1, 1, true), 0u) << "one point has nowhere to go";

    TimePlayback play;
    play.loop = false;
    EXPECT_EQ(StartPlaying(&play, 4, 5), 0u) << "Play at the end of a series that does not loop starts over";
    EXPECT_TRUE(play.playing);
    play.loop = true;
    EXPECT_EQ(StartPlaying(&play, 4, 5), 4u) << "a loop plays on from where it stands";
    TimePlayback single;
    StartPlaying(&single, 0, 1);
    EXPECT_FALSE(single.playing) << "one point does not play";
}

TEST(TimePlayback, OnePointPerPeriodWhateverTheFramesAndNoHurryAfterASlowOne) {
    TimePlayback play;
    play.framesPerSecond = 10;
    uint32_t shown = StartPlaying(&play, 0, 4);
    std::vector<uint32_t> points;
    // Frames of 30 ms for 0.65 s: a point at 0.1, 0.2, ... 0.6 s.
    for (int frame = 0; frame < 22; ++frame) {
        if (const auto next = AdvancePlayback(&play, 0.03, shown, 4)) {
            shown = *next;
            points.push_back(shown);
        }
    }
    EXPECT_EQ(points, (std::vector<uint32_t>{1, 2, 3, 0, 1, 2})) << "six periods in 0.66 s, round the end";
    EXPECT_NEAR(SecondsToNextPoint(play), 0.04, 1e-9);

    // A frame of two seconds shows the next point, not twenty at once, and
    // the one after waits half a period at least.
    const auto afterStall = AdvancePlayback(&play, 2.0, shown, 4);
    ASSERT_TRUE(afterStall.has_value());
    EXPECT_EQ(*afterStall, 3u);
    EXPECT_GE(SecondsToNextPoint(play), 0.05 - 1e-9);
    EXPECT_FALSE(AdvancePlayback(&play, 0.0, 3, 4).has_value()) << "no second point at once";

    // Without loop the play ends on the last point.
    TimePlayback once;
    once.loop = false;
    once.framesPerSecond = 1;
    uint32_t at = StartPlaying(&once, 2, 4);
    const auto last = AdvancePlayback(&once, 1.0, at, 4);
    ASSERT_TRUE(last.has_value());
    at = *last;
    EXPECT_EQ(at, 3u);
    EXPECT_FALSE(once.playing) << "the last point shown ends the play";
    EXPECT_FALSE(AdvancePlayback(&once, 5.0, at, 4).has_value()) << "paused: nothing is due";
}

}  // namespace
