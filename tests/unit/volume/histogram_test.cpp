// Histogram counting and its bar image, without a device.
#include <gtest/gtest.h>

#include <random>

#include "volume/histogram_counts.h"
#include "volume/volume_file.h"

namespace {

TEST(HistogramTest, TenBinExample) {
    const uint16_t samples[5] = {0, 0, 0, 32768, 65520};
    const HistogramCounts counts = CountHistogram(samples, 5, 10);
    EXPECT_EQ(counts.maxSample, 65520u);
    const std::vector<uint32_t> expected = {3, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    EXPECT_EQ(counts.bins, expected);
    EXPECT_EQ(counts.maxBinCount, 1u) << "bin 0 does not count";

    const std::vector<uint32_t> image = BuildHistogramImage(counts.bins, counts.maxBinCount);
    ASSERT_EQ(image.size(), 10u * 200u);
    for (uint32_t row = 0; row < 200; ++row) {
        for (uint32_t column = 0; column < 10; ++column) {
            const uint32_t pixel = image[row * 10 + column];
            ASSERT_TRUE(pixel == kHistogramWhite || pixel == kHistogramBlack);
            bool white = false;
            if (column == 0)
                white = true;  // 597 rows clipped to 200
            if (column == 4 || column == 9)
                white = row <= 198;
            ASSERT_EQ(pixel == kHistogramWhite, white) << "row " << row << " column " << column;
        }
    }
}

TEST(HistogramTest, TableGivesExactlyTheFormulasBins) {
    std::mt19937 random(1234);
    std::vector<uint16_t> samples(20000);
    for (auto& s : samples)
        s = static_cast<uint16_t>((random() % 4096) << 4);
    samples[17] = 0xFFF0;
    for (uint32_t binCount : {1u, 2u, 7u, 640u, 4096u, 65536u}) {
        const HistogramCounts counts = CountHistogram(samples.data(), 20000, binCount);
        std::vector<uint32_t> expected(binCount, 0);
        for (uint16_t s : samples)
            ++expected[uint64_t{s} * (binCount - 1) / counts.maxSample];
        ASSERT_EQ(counts.bins, expected) << binCount << " bins";
    }
}

// The load counts values while it shifts; bins built from those counts
// must be exactly the bins of the pass over the samples, for every width.
TEST(HistogramTest, ValueCountsGiveTheSamplePassBins) {
    std::mt19937 random(99);
    for (const uint32_t top : {4095u, 1000u, 1u, 0u}) {
        std::vector<uint16_t> samples(30000);
        for (auto& s : samples)
            s = static_cast<uint16_t>(random() % (top + 1));
        std::vector<uint32_t> values(kSampleValues, 0);
        ShiftSamplesCountingValues(samples.data(), static_cast<uint32_t>(samples.size()), values.data());
        for (uint32_t binCount : {0u, 1u, 6u, 10u, 640u, 4096u, 65536u}) {
            const HistogramCounts fromSamples =
                CountHistogram(samples.data(), static_cast<uint32_t>(samples.size()), binCount);
            const HistogramCounts fromValues = CountHistogramFromValues(values.data(), binCount);
            ASSERT_EQ(fromValues.bins, fromSamples.bins) << "top " << top << ", " << binCount << " bins";
            ASSERT_EQ(fromValues.maxSample, fromSamples.maxSample);
            ASSERT_EQ(fromValues.maxBinCount, fromSamples.maxBinCount);
        }
    }
}

TEST(HistogramTest, DegenerateVolumesGiveDefinedImages) {
    const uint16_t zeros[4] = {0, 0, 0, 0};
    HistogramCounts counts = CountHistogram(zeros, 4, 640);
    EXPECT_EQ(counts.maxSample, 0u);
    EXPECT_EQ(counts.bins[0], 4u);
    EXPECT_EQ(counts.maxBinCount, 0u);
    std::vector<uint32_t> image = BuildHistogramImage(counts.bins, counts.maxBinCount);
    EXPECT_EQ(image[0], kHistogramWhite) << "the one filled bin shows as a full bar";
    EXPECT_EQ(image[1], kHistogramBlack);

    const uint16_t few[3] = {16, 32, 48};
    counts = CountHistogram(few, 3, 6);
    EXPECT_EQ(counts.maxBinCount, 0u) << "no bin at 6 or above";
    image = BuildHistogramImage(counts.bins, counts.maxBinCount);
    EXPECT_EQ(image.size(), 6u * 200u);

    counts = CountHistogram(few, 3, 0);
    EXPECT_TRUE(counts.bins.empty());
    EXPECT_TRUE(BuildHistogramImage(counts.bins, 0).empty());
}

TEST(LogarithmicHistogram, SmallCountsRiseAndTheTallestStay) {
    const std::vector<uint32_t> bins = {0, 1, 10, 1000, 100000, 0, 5};
    const std::vector<uint32_t> heights = LogarithmicBins(bins, 100000);
    ASSERT_EQ(heights.size(), bins.size());
    EXPECT_EQ(heights[0], 0u) << "an empty bin stays empty";
    EXPECT_EQ(heights[5], 0u);
    EXPECT_EQ(heights[4], 100000u) << "the tallest keeps its height";
    for (size_t i : {1, 2, 3, 6})
        EXPECT_GT(heights[i], bins[i]) << "bin " << i << ": a small count rises";
    EXPECT_LT(heights[1], heights[6]);
    EXPECT_LT(heights[6], heights[2]) << "the order of the counts is kept";
    EXPECT_LT(heights[2], heights[3]);
    // Drawn, the tallest column is the same in both and a lone sample now shows.
    const std::vector<uint32_t> linear = BuildHistogramImage(bins, 100000),
                                log = BuildHistogramImage(heights, 100000);
    for (size_t row = 0; row < kHistogramRows; ++row)
        EXPECT_EQ(linear[row * bins.size() + 4], log[row * bins.size() + 4]);
    EXPECT_EQ(linear[1], kHistogramBlack) << "one sample is no bar in the linear histogram";
    EXPECT_EQ(log[1], kHistogramWhite);
}

}  // namespace
