// The drag's quality: how much a slow device's continuous-change frame leaves
// out, from the last layer's time.
#include <gtest/gtest.h>

#include "render/drag_quality.h"

namespace {

// A drag frame's quality from the last layer's time: resolution first, then
// slices, so that the next frame fits 66 ms, never below a quarter of either.
TEST(DragQualityTest, TheNextFrameIsCutToFitTheBudget) {
    const DragQuality full;
    EXPECT_TRUE(ChooseDragQuality(0.050, full).Full()) << "within budget nothing changes";
    EXPECT_TRUE(ChooseDragQuality(0.0, full).Full()) << "no measurement yet";
    DragQuality q =
        ChooseDragQuality(0.2, full);  // three budgets: half the resolution (a quarter of the pixels)
    EXPECT_EQ(q.resolutionDivisor, 2u);
    EXPECT_EQ(q.sliceStep, 1u);
    q = ChooseDragQuality(0.31, full);  // the start view here: a third of the resolution
    EXPECT_EQ(q.resolutionDivisor, 3u);
    EXPECT_EQ(q.sliceStep, 1u);
    q = ChooseDragQuality(2.06, full);  // close up: a quarter of the resolution and fewer slices
    EXPECT_EQ(q.resolutionDivisor, 4u);
    EXPECT_EQ(q.sliceStep, 2u);
    q = ChooseDragQuality(100.0, full);
    EXPECT_EQ(q.resolutionDivisor, 4u) << "never below a quarter";
    EXPECT_EQ(q.sliceStep, 4u);
    // A reduced frame's time stands for the whole frame's: the same choice again.
    const DragQuality reduced{4, 2};
    EXPECT_EQ(ChooseDragQuality(2.06 / 32.0, reduced).sliceStep, 2u);
    EXPECT_EQ(ChooseDragQuality(2.06 / 32.0, reduced).resolutionDivisor, 4u);
    EXPECT_TRUE(ChooseDragQuality(0.001, reduced).Full()) << "a fast device goes back to whole frames";
}

}  // namespace
