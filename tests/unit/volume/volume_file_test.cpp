// The volume file's checks, made before anything is allocated or unloaded.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "volume/volume_file.h"

namespace {

TEST(VolumeFileTest, HeaderIsLittleEndian) {
    const uint8_t bytes[6] = {0x00, 0x01, 0x34, 0x12, 0x01, 0x00};
    const VolumeHeader h = ReadVolumeHeader(bytes);
    EXPECT_EQ(h.dimX, 256);
    EXPECT_EQ(h.dimY, 0x1234);
    EXPECT_EQ(h.dimZ, 1);
}

TEST(VolumeFileTest, SizeChecks) {
    EXPECT_EQ(CheckVolumeFile({256, 256, 128}, 6 + 16777216), "") << "exactly the samples";
    EXPECT_EQ(CheckVolumeFile({256, 256, 128}, 6 + 16777216 + 99), "") << "extra bytes are ignored";
    EXPECT_EQ(CheckVolumeFile({1, 1, 1}, 8), "");
    EXPECT_EQ(CheckVolumeFile({0, 5, 5}, 6), "") << "a zero dimension is left for the texture to refuse";
    const std::string shortFile = CheckVolumeFile({256, 256, 128}, 6 + 16777215);
    EXPECT_NE(shortFile.find("shorter"), std::string::npos) << shortFile;
    EXPECT_NE(CheckVolumeFile({2, 2, 2}, 5), "") << "shorter than the header";
    const std::string huge = CheckVolumeFile({65535, 65535, 65535}, 1ull << 40);
    EXPECT_NE(huge.find("too large"), std::string::npos) << huge;
    // 2^31 samples need 2^32 bytes: one past what 32 bits can count.
    EXPECT_NE(CheckVolumeFile({2048, 1024, 1024}, 1ull << 40), "");
    EXPECT_EQ(CheckVolumeFile({2048, 1024, 1023}, 1ull << 40), "");
}

TEST(VolumeFileTest, SamplesShiftIntoTheTopTwelveBits) {
    uint16_t samples[4] = {0x0FFF, 1, 0x1234, 0xF000};
    ShiftSamples(samples, 4);
    EXPECT_EQ(samples[0], 0xFFF0);
    EXPECT_EQ(samples[1], 16);
    EXPECT_EQ(samples[2], 0x2340) << "bits above 11 are lost";
    EXPECT_EQ(samples[3], 0);
}

TEST(VolumeFileTest, ShiftCountsEveryTwelveBitValue) {
    uint16_t samples[6] = {0x0FFF, 1, 0x1234, 0xF000, 1, 0x0FFF};
    std::vector<uint32_t> counts(kSampleValues, 0);
    ShiftSamplesCountingValues(samples, 6, counts.data());
    const uint16_t shifted[6] = {0xFFF0, 16, 0x2340, 0, 16, 0xFFF0};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(samples[i], shifted[i]) << i;
    EXPECT_EQ(counts[0xFFF], 2u);
    EXPECT_EQ(counts[1], 2u);
    EXPECT_EQ(counts[0x234], 1u) << "bits above 11 are not counted";
    EXPECT_EQ(counts[0], 1u);
}

// Only a file of exactly the promised size is a volume file on sight; the
// others are offered to the scan readers first.
TEST(VolumeFileTest, ExactSizeDecidesAVolumeFile) {
    EXPECT_TRUE(IsExactVolumeFile({256, 256, 128}, 6 + 16777216));
    EXPECT_FALSE(IsExactVolumeFile({256, 256, 128}, 6 + 16777216 + 2));
    EXPECT_FALSE(IsExactVolumeFile({256, 256, 128}, 6 + 16777214));
    EXPECT_TRUE(IsExactVolumeFile({0, 7, 7}, 6));
    EXPECT_TRUE(IsExactVolumeFile({65535, 65535, 65535}, 6 + 2 * 65535ull * 65535 * 65535));
}

// Grids wider than the device take the smallest whole factor per axis; the
// box means are rounded, the far boxes hold what is left.
TEST(VolumeFileTest, ReductionAveragesBoxes) {
    const uint32_t dims[3] = {4100, 3, 2};
    uint32_t factors[3];
    ReductionFactors(dims, 2048, factors);
    EXPECT_EQ(factors[0], 3u);
    EXPECT_EQ(factors[1], 1u);
    EXPECT_EQ(factors[2], 1u);
    const uint32_t fits[3] = {2048, 1, 0};
    ReductionFactors(fits, 2048, factors);
    EXPECT_EQ(factors[0] * factors[1] * factors[2], 1u) << "nothing to do for a grid that fits";

    // 5 x 2 x 1 by 2 x 2 x 1: boxes {0,1,5,6}, {2,3,7,8}, {4,9}.
    const uint16_t samples[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF009};
    const uint32_t small[3] = {5, 2, 1}, byTwo[3] = {2, 2, 1};
    uint32_t reducedDims[3];
    const std::unique_ptr<uint16_t[]> reduced = BoxAverage(samples, small, byTwo, reducedDims);
    EXPECT_EQ(reducedDims[0], 3u);
    EXPECT_EQ(reducedDims[1], 1u);
    EXPECT_EQ(reducedDims[2], 1u);
    EXPECT_EQ(reduced[0], 3) << "(0 + 1 + 5 + 6) / 4 rounded";
    EXPECT_EQ(reduced[1], 5);
    EXPECT_EQ(reduced[2], 7) << "(4 + 9) / 2 rounded up; bits above 11 dropped first";
}

// Halving, which the gradient's grid takes from every time point, against
// the mean of each box's samples within the grid, odd faces included.
TEST(VolumeFileTest, HalvingAveragesEachBoxOfTwoWithinTheGrid) {
    std::mt19937 random(5);
    for (const auto& dims : {std::array<uint32_t, 3>{7, 6, 5}, {8, 5, 3}, {1, 1, 2}, {33, 2, 1}}) {
        std::vector<uint16_t> samples(size_t{dims[0]} * dims[1] * dims[2]);
        for (uint16_t& s : samples)
            s = static_cast<uint16_t>(random());
        const uint32_t byTwo[3] = {2, 2, 2};
        uint32_t h[3];
        const std::unique_ptr<uint16_t[]> halved = BoxAverage(samples.data(), dims.data(), byTwo, h);
        for (size_t out = 0; out < size_t{h[0]} * h[1] * h[2]; ++out) {
            const uint32_t x = out % h[0], y = out / h[0] % h[1], z = out / h[0] / h[1];
            uint32_t sum = 0, n = 0;
            for (uint32_t k = 2 * z; k < std::min(dims[2], 2 * z + 2); ++k)
                for (uint32_t j = 2 * y; j < std::min(dims[1], 2 * y + 2); ++j)
                    for (uint32_t i = 2 * x; i < std::min(dims[0], 2 * x + 2); ++i, ++n)
                        sum += samples[(size_t{k} * dims[1] + j) * dims[0] + i] & 0x0FFFu;
            ASSERT_EQ(halved[out], (sum + n / 2) / n)
                << dims[0] << " x " << dims[1] << " x " << dims[2] << " at " << out;
        }
    }
}

TEST(VolumeFileTest, SamplesPastTwelveBitsAreMappedNotCut) {
    uint16_t wide[4] = {0x0FFF, 1, 0x1234, 0xF000};
    uint16_t low = 0, high = 0;
    ASSERT_TRUE(FitSamplesToTwelveBits(wide, 4, &low, &high));
    EXPECT_EQ(low, 1);
    EXPECT_EQ(high, 0xF000);
    EXPECT_EQ(wide[1], 0) << "the smallest value maps to 0";
    EXPECT_EQ(wide[3], 4095) << "the largest to 4095";
    EXPECT_EQ(wide[0], 273) << "round(4094 * 4095 / 61439)";
    EXPECT_EQ(wide[2], 311) << "0x1234 keeps its place in the range instead of wrapping";

    uint16_t constant[2] = {0x5000, 0x5000};
    ASSERT_TRUE(FitSamplesToTwelveBits(constant, 2, &low, &high));
    EXPECT_EQ(constant[0], 0) << "a constant file past 12 bits maps to 0, as a constant scan does";

    uint16_t narrow[3] = {0, 4095, 7};
    EXPECT_FALSE(FitSamplesToTwelveBits(narrow, 3, &low, &high));
    EXPECT_EQ(narrow[1], 4095) << "12-bit files are left exactly as stored";
    EXPECT_EQ(narrow[2], 7);
}

}  // namespace

namespace {

// The device's texels of several channels: channel c of each sample in
// component c, shifted, from the time point asked for, each channel reduced
// as one channel's grid is; a spare component 0.
TEST(VolumeFileTest, ChannelTexelsInterleaveTheShownChannelsOfOneTimePoint) {
    VolumeData v;
    v.dimX = 4, v.dimY = v.dimZ = v.timePoints = 2;
    v.channels.assign(3, VolumeChannel{});
    v.samples.reset(new uint16_t[v.SampleCount()]);
    for (uint64_t i = 0; i < v.SampleCount(); ++i)
        v.samples[i] = static_cast<uint16_t>((i * 37) % 4096);
    const uint32_t whole[3] = {1, 1, 1}, halves[3] = {2, 2, 1}, grid[3] = {4, 2, 2};
    uint32_t dims[3], reducedDims[3];
    for (uint32_t shown : {2u, 3u}) {
        const uint32_t n = TexelComponents(shown);
        const auto texels = ChannelTexels(v, 1, shown, whole, dims);
        ASSERT_TRUE(texels != nullptr && n == (shown == 2 ? 2u : 4u));
        for (uint64_t i = 0; i < v.GridSamples(); ++i)
            for (uint32_t c = 0; c < n; ++c)
                ASSERT_EQ(texels[i * n + c], c < shown ? v.Grid(c, 1)[i] << 4 : 0) << i << " " << c;
    }
    const auto reduced = ChannelTexels(v, 0, 2, halves, dims);
    ASSERT_NE(reduced, nullptr);
    for (uint32_t c = 0; c < 2; ++c) {
        const auto one = BoxAverage(v.Grid(c, 0), grid, halves, reducedDims);
        for (uint32_t i = 0; i < reducedDims[0] * reducedDims[1] * reducedDims[2]; ++i)
            EXPECT_EQ(reduced[i * 2 + c], one[i] << 4);
    }
    EXPECT_EQ(ChannelTexels(v, 2, 2, whole, dims), nullptr) << "no such time point";
}

}  // namespace
