#include "volume/histogram_counts.h"

#include <algorithm>
#include <cmath>

#include "volume/volume_file.h"

HistogramCounts CountHistogram(const uint16_t* samples, uint32_t sampleCount, uint32_t binCount) {
    HistogramCounts counts;
    counts.bins.assign(binCount, 0);
    if (binCount == 0)
        return counts;
    // Kept at 16 bits so that the compiler can take many samples per step.
    uint16_t largest = 0;
    for (uint32_t i = 0; i < sampleCount; ++i)
        largest = std::max(largest, samples[i]);
    const uint32_t maxSample = largest;
    counts.maxSample = maxSample;

    // One division per possible value instead of one per sample: the table
    // gives exactly floor(s * (binCount - 1) / maxSample) for every s.
    std::vector<uint32_t> binOf(static_cast<size_t>(maxSample) + 1, 0);
    if (maxSample > 0) {
        for (uint32_t s = 0; s <= maxSample; ++s)
            binOf[s] = static_cast<uint32_t>(uint64_t{s} * (binCount - 1) / maxSample);
    }
    // Neighbouring samples mostly share a bin (air, then tissue), so one
    // array of counters makes every increment wait for the one before; four
    // interleaved partial counts let them run side by side.
    const uint32_t* table = binOf.data();
    std::vector<uint32_t> partial(size_t{binCount} * 4, 0);
    uint32_t* p0 = partial.data();
    uint32_t* p1 = p0 + binCount;
    uint32_t* p2 = p1 + binCount;
    uint32_t* p3 = p2 + binCount;
    uint32_t i = 0;
    for (; i + 4 <= sampleCount; i += 4) {
        ++p0[table[samples[i]]];
        ++p1[table[samples[i + 1]]];
        ++p2[table[samples[i + 2]]];
        ++p3[table[samples[i + 3]]];
    }
    for (; i < sampleCount; ++i)
        ++p0[table[samples[i]]];
    uint32_t* bins = counts.bins.data();
    for (uint32_t b = 0; b < binCount; ++b)
        bins[b] = p0[b] + p1[b] + p2[b] + p3[b];
    for (uint32_t b = 6; b < binCount; ++b)
        counts.maxBinCount = std::max(counts.maxBinCount, bins[b]);
    return counts;
}

HistogramCounts CountHistogramFromValues(const uint32_t* valueCounts, uint32_t binCount) {
    HistogramCounts counts;
    counts.bins.assign(binCount, 0);
    if (binCount == 0)
        return counts;
    uint32_t largest = 0;
    for (uint32_t v = 0; v < kSampleValues; ++v)
        if (valueCounts[v] > 0)
            largest = v;
    const uint32_t maxSample = largest << 4;
    counts.maxSample = maxSample;
    uint32_t* bins = counts.bins.data();
    if (maxSample == 0) {
        bins[0] = valueCounts[0];
    } else {
        for (uint32_t v = 0; v <= largest; ++v)
            bins[uint64_t{v << 4} * (binCount - 1) / maxSample] += valueCounts[v];
    }
    for (uint32_t b = 6; b < binCount; ++b)
        counts.maxBinCount = std::max(counts.maxBinCount, bins[b]);
    return counts;
}

std::vector<uint32_t> BuildHistogramImage(const std::vector<uint32_t>& bins, uint32_t maxBinCount) {
    const size_t width = bins.size();
    std::vector<uint32_t> image(width * kHistogramRows, kHistogramBlack);
    for (size_t column = 0; column < width; ++column) {
        uint64_t height;
        if (maxBinCount > 0) {
            height = uint64_t{bins[column]} * 199 / maxBinCount;
        } else {
            height = bins[column] > 0 ? kHistogramRows : 0;
        }
        height = std::min<uint64_t>(height, kHistogramRows);
        for (uint64_t row = 0; row < height; ++row)
            image[row * width + column] = kHistogramWhite;
    }
    return image;
}

std::vector<uint32_t> LogarithmicBins(const std::vector<uint32_t>& bins, uint32_t maxBinCount) {
    std::vector<uint32_t> heights(bins.size(), 0);
    if (maxBinCount == 0)
        return bins;  // only the bins that hold samples are drawn: nothing to scale
    const double scale = static_cast<double>(maxBinCount) / std::log1p(static_cast<double>(maxBinCount));
    for (size_t i = 0; i < bins.size(); ++i) {
        const double height = std::log1p(static_cast<double>(bins[i])) * scale;
        heights[i] = static_cast<uint32_t>(std::min(std::round(height), 4294967295.0));
    }
    return heights;
}
