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
        points[i].green = odd[i % 3] / 32.0f;
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

// Files the editor never writes are refused, naming the first bad point;
// the output is left alone.
TEST(TfFileTest, ValuesOutsideWhatTheEditorWritesAreRefused) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        std::vector<ControlPoint> points;
        const char* says;
    } cases[] = {
        {{{0, 0, 0, 0, 0}, {nan, 1, 1, 1, 1}, {1, 1, 1, 1, 1}}, "point 2 of 3: position nan"},
        {{{0, 0, 0, 0, 0}, {1, 1, inf, 1, 1}}, "point 2 of 2: green inf is not within 0..1"},
        {{{0, 0, 0, 0, -0.5f}, {1, 1, 1, 1, 1}}, "point 1 of 2: opacity -0.5"},
        {{{0, 0, 0, 0, 0}, {1, 1.5f, 1, 1, 1}}, "red 1.5"},
        {{{0, 0, 0, 0, 0}, {0.6f, 1, 1, 1, 1}, {0.4f, 1, 1, 1, 1}, {1, 1, 1, 1, 1}},
         "point 3 of 4: position 0.4 lies before"},
        {{{0.1f, 0, 0, 0, 0}, {1, 1, 1, 1, 1}}, "the first point lies at 0.1, not at 0"},
        {{{0, 0, 0, 0, 0}, {0.9f, 1, 1, 1, 1}}, "the last point lies at 0.9, not at 1"},
    };
    for (const auto& c : cases) {
        const auto bytes = SerializeTransferFunction(c.points.data(), static_cast<uint32_t>(c.points.size()));
        std::vector<ControlPoint> out = {{9, 9, 9, 9, 9}};
        std::string error;
        EXPECT_FALSE(ParseTransferFunction(bytes.data(), bytes.size(), &out, &error)) << c.says;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_EQ(out.size(), 1u);
    }
    // Steps (two points at one position) are the editor's own: accepted.
    const std::vector<ControlPoint> steps = {
        {0, 0, 0, 0, 0}, {0.5f, 1, 0, 0, 0.3f}, {0.5f, 0, 0, 1, 1}, {1, 1, 1, 1, 1}};
    const auto bytes = SerializeTransferFunction(steps.data(), 4);
    std::vector<ControlPoint> out;
    std::string error;
    EXPECT_TRUE(ParseTransferFunction(bytes.data(), bytes.size(), &out, &error)) << error;
}

TEST(TfFileTest, PointCountIsCapped) {
    std::vector<ControlPoint> many(kMaxControlPoints + 1);
    for (size_t i = 0; i < many.size(); ++i)
        many[i] = {static_cast<float>(i) / kMaxControlPoints, 0.5f, 0.5f, 0.5f, 0.5f};
    many.back().position = 1.0f;
    std::vector<ControlPoint> out;
    std::string error;
    auto bytes = SerializeTransferFunction(many.data(), kMaxControlPoints + 1);
    EXPECT_FALSE(ParseTransferFunction(bytes.data(), bytes.size(), &out, &error));
    EXPECT_NE(error.find("at most 4096"), std::string::npos) << error;
    many.erase(many.end() - 2);  // keeps 0 first and 1 last
    bytes = SerializeTransferFunction(many.data(), kMaxControlPoints);
    EXPECT_TRUE(ParseTransferFunction(bytes.data(), bytes.size(), &out, &error)) << error;
    EXPECT_EQ(out.size(), size_t{kMaxControlPoints});
}

}  // namespace
