// The histogram as plain computation: the counts of the loaded samples in
// bins and its image of white bars on black, 200 rows high, one column per bin.
#pragma once

#include <cstdint>
#include <vector>

inline constexpr uint32_t kHistogramRows = 200;
inline constexpr uint32_t kHistogramWhite = 0xFFFFFFFFu;
inline constexpr uint32_t kHistogramBlack = 0xFF000000u;

struct HistogramCounts {
    std::vector<uint32_t> bins;
    uint32_t maxSample = 0;
    uint32_t maxBinCount = 0;  // over bins 6 and above; 0 if none
};

// Bin of sample s: floor(s * (binCount - 1) / maxSample). All-zero samples
// fall in bin 0; binCount 0 gives no bins.
HistogramCounts CountHistogram(const uint16_t* samples, uint32_t sampleCount, uint32_t binCount);

// The same counts from how often each 12-bit value occurs (value v is the
// shifted sample v << 4; kSampleValues entries): one step per value, none
// per sample, so the bins come out exactly as the pass over the samples.
HistogramCounts CountHistogramFromValues(const uint32_t* valueCounts, uint32_t binCount);

// binCount x 200 pixels, row 0 first: column i white in rows below
// floor(bins[i] * 199 / maxBinCount) (clipped to 200). With maxBinCount 0
// only the bins that hold samples are drawn, as full-height bars.
std::vector<uint32_t> BuildHistogramImage(const std::vector<uint32_t>& bins, uint32_t maxBinCount);

// The bins as log(1 + count), scaled so that a bin of maxBinCount keeps its
// count: the small peaks (bone, vessels, contrast) rise, the tallest stay,
// an empty bin stays empty. Fed to BuildHistogramImage as the counts are.
std::vector<uint32_t> LogarithmicBins(const std::vector<uint32_t>& bins, uint32_t maxBinCount);
