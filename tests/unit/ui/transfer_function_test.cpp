// The lookup-table walk and the ".tf" bytes, without a device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ui/transfer_function.h"

namespace {

std::vector<float> Walk(const std::vector<ControlPoint>& points) {
    std::vector<float> texels(kTransferTexels * 4);
    WalkTransferFunction(points.data(), static_cast<uint32_t>(points.size()), texels.data());
    return texels;
}

TEST(TransferWalkTest, DefaultFunctionIsTheIdentityRamp) {
    const auto texels = Walk({{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}});
    for (int j = 0; j < kTransferTexels; ++j)
        for (int c = 0; c < 4; ++c)
            ASSERT_FLOAT_EQ(texels[4 * j + c], j / 1024.0f) << "texel " << j;
    EXPECT_FLOAT_EQ(texels[4 * 1023], 1023.0f / 1024.0f);
}

TEST(TransferWalkTest, APointIsReachedByItsOwnTexel) {
    const auto texels = Walk({{0, 0, 0, 0, 0}, {0.5f, 1, 0, 0, 0.8f}, {1, 0, 0, 1, 1}});
    EXPECT_FLOAT_EQ(texels[4 * 512 + 0], 1.0f) << "t = 0.5 still belongs to the segment ending at 0.5";
    EXPECT_FLOAT_EQ(texels[4 * 512 + 3], 0.8f);
    EXPECT_NEAR(texels[4 * 513 + 2], 1.0f / 512.0f, 1e-6) << "the next texel starts the next segment";
}

TEST(TransferWalkTest, CloselySpacedPointsAreCaughtUpOneTexelLater) {
    const auto texels =
        Walk({{0, 0, 0, 0, 0}, {0.3f, 0, 0, 0, 0.2f}, {0.3004f, 0, 0, 0, 0.6f}, {1, 0, 0, 0, 1}});
    // Texel 308 (t = 0.30078) passes 0.3 and is computed on the 0.3 - 0.3004
    // segment with f > 1; texel 309 is on the segment from 0.3004.
    const float t308 = 308.0f / 1024.0f, t309 = 309.0f / 1024.0f;
    const float f = (t308 - 0.3f) / (0.3004f - 0.3f);
    EXPECT_GT(f, 1.0f);
    EXPECT_NEAR(texels[4 * 308 + 3], 0.2f + 0.4f * f, 1e-4);
    EXPECT_NEAR(texels[4 * 309 + 3], 0.6f + 0.4f * (t309 - 0.3004f) / (1 - 0.3004f), 1e-5);
}

TEST(TransferWalkTest, DegenerateFunctionsGiveDefinedTexels) {
    // Zero-length segment, last point below 1, first point above 0, NaN.
    const auto texels = Walk({{0.25f, 0.5f, 0.5f, 0.5f, 0.5f}, {0.25f, 1, 1, 1, 1}, {0.5f, 0, 0, 0, 0.2f}});
    for (float v : texels)
        ASSERT_TRUE(std::isfinite(v));
    EXPECT_FLOAT_EQ(texels[4 * 1000 + 3], 0.2f) << "past the last point its values repeat";
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto withNan = Walk({{0, 0, 0, 0, 0}, {nan, 1, 1, 1, 1}, {1, 1, 1, 1, 1}});
    EXPECT_EQ(withNan.size(), 4096u) << "stored NaN positions are walked without crashing";
}

TEST(TfFileTest, DefaultFunctionIs44BytesAndRoundTrips) {
    const std::vector<ControlPoint> points = {{0, 0, 0, 0, 0}, {1, 1, 1, 1, 1}};
    const auto bytes = SerializeTransferFunction(points.data(), 2);
    ASSERT_EQ(bytes.size(), 44u);
    EXPECT_EQ(bytes[0], 2);
    EXPECT_EQ(bytes[1] | bytes[2] | bytes[3], 0);
    const uint8_t one[4] = {0x00, 0x00, 0x80, 0x3F};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(bytes[24 + i], one[i]) << "point 1's position is 1.0f";
    std::vector<ControlPoint> back;
    std::string error;
    ASSERT_TRUE(ParseTransferFunction(bytes.data(), bytes.size(), &back, &error)) << error;
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[1].alpha, 1.0f);
}

TEST(TfFileTest, LineEndAndEndOfFileBytesSurviveBitForBit) {
    std::vector<ControlPoint> points(26);
    for (int i = 0; i < 26; ++i) {
        const float odd[3] = {0x0A, 0x0D, 0x1A};
        uint32_t bits = 0x3F0A0D1Au + static_cast<uint32_t>(i);
        std::memcpy(&points[i].red, &bits, 4);
        points[i].position = i / 25.0f;
        points[i].green = odd[i % 3];
        points[i].blue = 0;
        points[i].alpha = 1;
    }
    const auto bytes = SerializeTransferFunction(points.data(), 26);
    EXPECT_EQ(bytes[0], 0x1A) << "a count of 26";
    std::vector<ControlPoint> back;
    std::string error;
    ASSERT_TRUE(ParseTransferFunction(bytes.data(), bytes.size(), &back, &error));
    ASSERT_EQ(std::memcmp(back.data(), points.data(), 26 * sizeof(ControlPoint)), 0);
}

TEST(TfFileTest, BadFilesAreRefusedWithAReason) {
    std::vector<ControlPoint> out = {{9, 9, 9, 9, 9}};
    std::string error;
    const uint8_t tooShortForCount[3] = {2, 0, 0};
    EXPECT_FALSE(ParseTransferFunction(tooShortForCount, 3, &out, &error));
    std::vector<uint8_t> onePoint = {1, 0, 0, 0};
    onePoint.resize(24);
    EXPECT_FALSE(ParseTransferFunction(onePoint.data(), onePoint.size(), &out, &error));
    EXPECT_NE(error.find("at least 2"), std::string::npos) << error;
    std::vector<uint8_t> shortOfPoints = {3, 0, 0, 0};
    shortOfPoints.resize(4 + 20 * 3 - 1);
    EXPECT_FALSE(ParseTransferFunction(shortOfPoints.data(), shortOfPoints.size(), &out, &error));
    const uint8_t hugeCount[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_FALSE(ParseTransferFunction(hugeCount, 8, &out, &error))
        << "a huge count is refused, not allocated";
    ASSERT_EQ(out.size(), 1u) << "a refused file leaves the output alone";
    EXPECT_EQ(out[0].position, 9.0f);
}

}  // namespace
