// RGB <-> HSL for the colour picker, with the values users and files rely on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ui/hsl.h"

namespace {

TEST(HslTest, RgbToHslTable) {
    struct Case {
        float r, g, b, h, s, l;
    } cases[] = {
        {0, 0, 0, 0, 0, 0},      {1, 1, 1, 0, 0, 1},      {0.5f, 0.5f, 0.5f, 0, 0, 0.5f},
        {1, 0, 0, 0, 1, 0.5f},   {1, 1, 0, 60, 1, 0.5f},  {0, 1, 0, 120, 1, 0.5f},
        {0, 1, 1, 180, 1, 0.5f}, {0, 0, 1, 240, 1, 0.5f}, {1, 0, 1, 300, 1, 0.5f},
    };
    for (const Case& c : cases) {
        const HslColor hsl = RgbToHsl(c.r, c.g, c.b);
        EXPECT_NEAR(hsl.hue, c.h, 1e-4) << c.r << "," << c.g << "," << c.b;
        EXPECT_NEAR(hsl.saturation, c.s, 1e-6) << c.r << "," << c.g << "," << c.b;
        EXPECT_NEAR(hsl.lightness, c.l, 1e-6) << c.r << "," << c.g << "," << c.b;
    }
}

TEST(HslTest, HslToRgbaTableIncludingUnclampedEdges) {
    struct Case {
        float h, s, l, r, g, b;
    } cases[] = {
        {0, 1, 0.5f, 1, 0, 0},
        {120, 1, 0.5f, 0, 1, 0},
        {240, 0.5f, 0.25f, 0.125f, 0.125f, 0.375f},
        {-2, 1, 0.5f, 1, -1.0f / 30.0f, 0},
        {360, 1, 0.5f, 1, 1, 1},
        {360, 0, 0.5f, 1.5f, 1.5f, 1.5f},
        {-1.5f, 0, 0.3f, 0.3f, 0.3f, 0.3f},
        {359.9f, 0, 0.7f, 0.7f, 0.7f, 0.7f},
    };
    for (const Case& c : cases) {
        const RgbaColor rgba = HslToRgba(HslColor{c.h, c.s, c.l}, 0.25f);
        EXPECT_NEAR(rgba.red, c.r, 1e-6) << "hue " << c.h;
        EXPECT_NEAR(rgba.green, c.g, 1e-6) << "hue " << c.h;
        EXPECT_NEAR(rgba.blue, c.b, 1e-6) << "hue " << c.h;
        EXPECT_EQ(rgba.alpha, 0.25f) << "alpha passes through";
    }
    const RgbaColor nan = HslToRgba(HslColor{std::numeric_limits<float>::quiet_NaN(), 1, 0.5f}, 1);
    EXPECT_EQ(nan.red, 1.0f) << "a hue that is not a number falls to the last row";
}

TEST(HslTest, RoundTripsEveryColourOnAGrid) {
    for (int r = 0; r <= 10; ++r)
        for (int g = 0; g <= 10; ++g)
            for (int b = 0; b <= 10; ++b) {
                const float red = r / 10.0f, green = g / 10.0f, blue = b / 10.0f;
                const RgbaColor back = HslToRgba(RgbToHsl(red, green, blue), 1);
                ASSERT_NEAR(back.red, red, 2e-6) << r << g << b;
                ASSERT_NEAR(back.green, green, 2e-6) << r << g << b;
                ASSERT_NEAR(back.blue, blue, 2e-6) << r << g << b;
            }
}

}  // namespace
