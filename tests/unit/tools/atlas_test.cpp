// The interface atlas must hold each picture where the panel geometry samples
// it; the hue/saturation chart in particular is read back as colours.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/atlas/atlas_image.h"

namespace {

struct Texel {
    int r, g, b, a;
};

Texel At(const std::vector<uint8_t>& pixels, int x, int y) {
    const uint8_t* p = &pixels[(static_cast<size_t>(y) * atlas::kSize + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

TEST(AtlasTest, ChartRunsHueAcrossAndSaturationDown) {
    const auto pixels = atlas::DrawInterfaceAtlas();
    ASSERT_EQ(pixels.size(), 512u * 512u * 4u);

    // Top-left: hue near 0, saturation near 1: pure red.
    Texel topLeft = At(pixels, 0, atlas::kChartTop);
    EXPECT_GE(topLeft.r, 250);
    EXPECT_LE(topLeft.b, 8);
    EXPECT_LE(topLeft.g, 12);
    // A third of the way across the top row: green; two thirds: blue.
    Texel third = At(pixels, atlas::kChartWidth / 3, atlas::kChartTop);
    EXPECT_GT(third.g, 240) << "hue 120 is green";
    Texel twoThirds = At(pixels, 2 * atlas::kChartWidth / 3, atlas::kChartTop);
    EXPECT_GT(twoThirds.b, 240) << "hue 240 is blue";
    // Bottom row: saturation near 0 at lightness 0.5: mid grey whatever the hue.
    for (int column : {0, 60, 120, 178}) {
        Texel bottom = At(pixels, column, atlas::kChartTop + atlas::kChartHeight - 1);
        EXPECT_NEAR(bottom.r, 128, 3) << "column " << column;
        EXPECT_NEAR(bottom.g, 128, 3) << "column " << column;
        EXPECT_NEAR(bottom.b, 128, 3) << "column " << column;
    }
    // The chart is opaque and ends at column 179 and row 511.
    for (int row = atlas::kChartTop; row < atlas::kSize; row += 17) {
        EXPECT_EQ(At(pixels, 178, row).a, 255);
        EXPECT_EQ(At(pixels, 179, row).a, 0) << "the chart is 179 texels wide";
    }
    EXPECT_EQ(At(pixels, 10, atlas::kChartTop - 1).a, 0) << "nothing above the chart's top row";
}

TEST(AtlasTest, ChartCoordinatesSampleTexelCentres) {
    float hue = 0, saturation = 0;
    atlas::ChartColourAt(0, 0, &hue, &saturation);
    EXPECT_NEAR(hue, 0.5f * 360.0f / 179.0f, 1e-4);
    EXPECT_NEAR(saturation, 1.0f - 0.5f / 180.0f, 1e-6);
    atlas::ChartColourAt(178, 179, &hue, &saturation);
    EXPECT_LT(hue, 360.0f) << "the last column stays below a full turn";
    EXPECT_GT(saturation, 0.0f);
    EXPECT_LT(saturation, 0.01f);
}

TEST(AtlasTest, HandleAndPanelRegionsHoldTheirPictures) {
    const auto pixels = atlas::DrawInterfaceAtlas();
    // The strip patches are see-through above and carry an edge line at the bottom.
    for (int x : {0, 15, 64, 79}) {
        EXPECT_EQ(At(pixels, x, 10).a, 0) << "strip column " << x;
        EXPECT_EQ(At(pixels, x, 31).a, 255) << "strip edge column " << x;
    }
    // The handle's body is opaque enough to read over any volume, in the caps
    // and in the middle.
    for (int x : {24, 56, 90, 150})
        EXPECT_GT(At(pixels, x, 28).a, 200) << "handle column " << x;
    // Stretched patches must be uniform across, so stretching shows no pattern.
    for (int y = 32; y < 64; ++y) {
        Texel first = At(pixels, 0, y);
        Texel last = At(pixels, 31, y);
        EXPECT_EQ(first.r, last.r);
        EXPECT_EQ(first.a, last.a);
        EXPECT_GT(first.a, 200) << "the panel background is nearly opaque";
    }
    // The rotation icon: transparent corners, a visible ring.
    EXPECT_EQ(At(pixels, 480, 0).a, 0);
    int opaque = 0;
    for (int y = 0; y < 32; ++y)
        for (int x = 480; x < 512; ++x)
            opaque += At(pixels, x, y).a > 128;
    EXPECT_GT(opaque, 100) << "the rotation icon has a visible shape";
    EXPECT_LT(opaque, 700) << "the rotation icon is not a filled square";
}

}  // namespace
