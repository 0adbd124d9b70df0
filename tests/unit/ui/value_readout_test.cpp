// The value under the cursor: a graph position in the volume's own units.
#include <gtest/gtest.h>

#include "ui/value_readout.h"

namespace {

using UI::ValueScale;

TEST(ValueReadout, PositionsSpeakTheScansUnits) {
    const ValueScale ct{true, -1024, 3071, "HU"};
    // The CT presets' positions are (HU + 1024) / 4095.
    EXPECT_EQ(UI::ValueReadoutText((350 + 1024) / 4095.0f, ct, 0.3f), "350 HU, opacity 0.30");
    EXPECT_EQ(UI::ValueReadoutText(0, ct, 0), "-1024 HU, opacity 0.00");
    const ValueScale probability{true, 0, 1, ""};
    EXPECT_EQ(UI::ValueReadoutText(0.5f, probability, 1), "value 0.5000, opacity 1.00")
        << "digits enough to tell one 12-bit step from the next";
    const ValueScale volumeFile;
    EXPECT_EQ(UI::ValueReadoutText(1234 / 4095.0f, volumeFile, 0.5f), "value 1234, opacity 0.50");
    EXPECT_EQ(UI::ValueAtPosition(2.0f, volumeFile), 4095) << "outside the graph: its end";
    // The value alone, as the slice window shows a voxel's.
    EXPECT_EQ(UI::ValueText((350 + 1024) / 4095.0f, ct), "350 HU");
    EXPECT_EQ(UI::ValueText(1234 / 4095.0f, volumeFile), "value 1234");
}

TEST(ValueReadout, OpacityFollowsTheLinesBetweenPoints) {
    const ControlPoint points[] = {
        {0, 0, 0, 0, 0.2f}, {0.5f, 0, 0, 0, 1}, {0.5f, 0, 0, 0, 0}, {1, 0, 0, 0, 0.4f}};
    EXPECT_FLOAT_EQ(UI::OpacityAt(points, 4, 0.25f), 0.6f);
    EXPECT_FLOAT_EQ(UI::OpacityAt(points, 4, 0.75f), 0.2f) << "after a step, the line from its second point";
    EXPECT_FLOAT_EQ(UI::OpacityAt(points, 4, 1.0f), 0.4f);
    EXPECT_FLOAT_EQ(UI::OpacityAt(points, 4, 0.0f), 0.2f);
}

}  // namespace
