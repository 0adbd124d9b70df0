// Turning a scan's grid to the program's orientation and mapping its values
// onto 12 bits through a value window: plain computation over the samples
// the readers (ITK) gave, for scan_import.cpp (and its tests) alone.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

namespace scan_mapping {

using Directions = std::array<std::array<double, 3>, 3>;  // [physical LPS axis][grid axis]

struct Placement {
    std::array<int, 3> gridAxis{0, 1, 2};  // which grid axis becomes x, y, z
    std::array<bool, 3> reversed{false, false, false};
};

// x <- left (LPS 0), y <- superior (LPS 2), z <- posterior (LPS 1).
inline constexpr std::array<int, 3> kPhysicalAxisOf = {0, 2, 1};

inline Placement PlaceGrid(const Directions& d) {
    Placement best;
    double bestScore = -1;
    std::array<int, 3> perm = {0, 1, 2};
    do {
        double score = 0;
        for (int o = 0; o < 3; ++o)
            score += std::fabs(d[kPhysicalAxisOf[o]][perm[o]]);
        if (score > bestScore + 1e-9) {
            bestScore = score;
            best.gridAxis = perm;
        }
    } while (std::next_permutation(perm.begin(), perm.end()));
    for (int o = 0; o < 3; ++o)
        best.reversed[o] = d[kPhysicalAxisOf[o]][best.gridAxis[o]] < 0;
    return best;
}

// ---------------------------------------------------------------------------
// Mapping

struct Grid {
    std::array<uint64_t, 3> dims{1, 1, 1};
    std::array<double, 3> spacing{1, 1, 1};
    Directions directions{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
};

// ---------------------------------------------------------------------------
// Value windows

// What a scan's values say about it, from one pass.
struct ValueFacts {
    bool anyFinite = false;
    double min = 0, max = 0;  // over the finite values
    bool integral = true;     // every finite value a whole number
    uint64_t finite = 0;
    uint64_t nearAir = 0;   // within 100 of -1000 (air in Hounsfield units)
    uint64_t aboveAir = 0;  // in (-900, -700]: between air and fat, little in a CT
};

template <typename T>
ValueFacts SurveyValues(const T* values, uint64_t count) {
    ValueFacts facts;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    bool integral = true;
    uint64_t finite = 0, nearAir = 0, aboveAir = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const double v = static_cast<double>(values[i]);
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(v))
                continue;
            integral = integral && v == std::floor(v);
        }
        ++finite;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        nearAir += v >= -1100 && v <= -900;
        aboveAir += v > -900 && v <= -700;
    }
    facts.anyFinite = finite > 0;
    facts.min = facts.anyFinite ? lo : 0;
    facts.max = facts.anyFinite ? hi : 0;
    facts.integral = integral;
    facts.finite = finite;
    facts.nearAir = nearAir;
    facts.aboveAir = aboveAir;
    return facts;
}

// A scan without a modality is taken for a CT in Hounsfield units when its
// values are whole numbers, reach down to air (-900 or below), and air is a
// peak: at least 2% of the voxels lie within 100 HU of -1000, more than in
// the band just above it (-900 to -700 HU), where a CT has little.
inline bool LooksLikeCt(const ValueFacts& facts) {
    return facts.anyFinite && facts.integral && facts.min <= -900 && facts.nearAir * 50 >= facts.finite &&
           facts.nearAir > facts.aboveAir;
}

inline constexpr double kCtWindowLow = -1024, kCtWindowHigh = 3071;  // the 12-bit CT range in HU
inline constexpr double kAutoLowFraction = 0.001, kAutoHighFraction = 0.999;

// The automatic window, which a few extreme voxels cannot move: from the
// 0.1st percentile of the finite values (the minimum itself whenever at
// least 0.1% of the voxels hold it, as a background does) up to the 99.9th
// percentile of the values above that. Percentiles are read off 65536 bins
// over [min, max], so each end lies within 1/65536 of the range of its value
// (the upper end never below it). Falls back to [min, max] when the values
// above the low end are too few to say.
template <typename T>
void AutomaticWindow(const T* values, uint64_t count, const ValueFacts& facts, double* low, double* high) {
    *low = facts.min;
    *high = facts.max;
    if (!facts.anyFinite || !(facts.max > facts.min))
        return;
    constexpr size_t kBins = size_t{1} << 16;
    // Halves first: the range's width can pass the largest double.
    const double halfSpan = facts.max / 2 - facts.min / 2;
    const double toBin = static_cast<double>(kBins) / halfSpan;
    if (!std::isfinite(toBin))
        return;  // a range of subnormal width: the bins could not tell its values apart
    std::vector<uint64_t> bins(kBins, 0);
    for (uint64_t i = 0; i < count; ++i) {
        const double v = static_cast<double>(values[i]);
        if (!std::isfinite(v))
            continue;
        const double b = (v / 2 - facts.min / 2) * toBin;
        ++bins[b >= static_cast<double>(kBins - 1) ? kBins - 1 : static_cast<size_t>(b)];
    }
    const double binWidth = 2 * halfSpan / static_cast<double>(kBins);
    const auto ceilCount = [](double fraction, uint64_t n) {
        return std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(n))));
    };
    const uint64_t lowTarget = ceilCount(kAutoLowFraction, facts.finite);
    uint64_t seen = 0;
    size_t lowBin = 0;
    while (lowBin < kBins && (seen += bins[lowBin]) < lowTarget)
        ++lowBin;
    const uint64_t above = facts.finite - seen;
    if (lowBin >= kBins - 1 || above == 0)
        return;
    const uint64_t highTarget = ceilCount(kAutoHighFraction, above);
    uint64_t seenAbove = 0;
    size_t highBin = lowBin + 1;
    while (highBin < kBins - 1 && (seenAbove += bins[highBin]) < highTarget)
        ++highBin;
    *low = lowBin == 0 ? facts.min : facts.min + static_cast<double>(lowBin) * binWidth;
    *high = highBin >= kBins - 1
                ? facts.max
                : std::min(facts.max, facts.min + static_cast<double>(highBin + 1) * binWidth);
    if (!(*high > *low)) {
        *low = facts.min;
        *high = facts.max;
    }
}

// Maps v from the window [low, high] onto 0..4095; `halfScale` is
// 4095 / (high / 2 - low / 2), 0 for an empty window. Below the window and
// NaN give 0, above it (+inf too) 4095.
inline uint16_t MapValue(double v, double low, double halfScale) {
    if (!(v >= low))  // below the window, or NaN
        return 0;
    const double t = (v / 2 - low / 2) * halfScale + 0.5;
    return t < 4095.0 ? static_cast<uint16_t>(t) : (halfScale > 0 ? 4095 : 0);
}

inline double HalfScale(double low, double high) {
    return high > low ? 4095.0 / (high / 2 - low / 2) : 0.0;
}

// Writes `in` (grid order) into `out` in the program's order, each value
// mapped from the window [low, high] onto 0..4095.
template <typename T>
void PlaceAndMap(const T* in, const Grid& grid, const Placement& placement, double low, double high,
                 uint16_t* out) {
    const double scale = HalfScale(low, high);
    std::array<uint64_t, 3> outDims;
    for (int o = 0; o < 3; ++o)
        outDims[o] = grid.dims[placement.gridAxis[o]];
    const std::array<int64_t, 3> outStride = {1, static_cast<int64_t>(outDims[0]),
                                              static_cast<int64_t>(outDims[0] * outDims[1])};
    std::array<int64_t, 3> step{};
    int64_t base = 0;
    for (int o = 0; o < 3; ++o) {
        const int a = placement.gridAxis[o];
        if (placement.reversed[o]) {
            step[a] = -outStride[o];
            base += static_cast<int64_t>(grid.dims[a] - 1) * outStride[o];
        } else {
            step[a] = outStride[o];
        }
    }

    // Small integer types: one table entry per possible value.
    constexpr bool kTable = std::is_integral_v<T> && sizeof(T) <= 2;
    std::vector<uint16_t> table;
    int64_t tableOrigin = 0;
    if constexpr (kTable) {
        tableOrigin = static_cast<int64_t>(std::numeric_limits<T>::min());
        table.resize(size_t{1} << (8 * sizeof(T)));
        for (size_t i = 0; i < table.size(); ++i)
            table[i] = MapValue(static_cast<double>(static_cast<int64_t>(i) + tableOrigin), low, scale);
    }

    const uint64_t nx = grid.dims[0], ny = grid.dims[1], nz = grid.dims[2];
    for (uint64_t k = 0; k < nz; ++k) {
        for (uint64_t j = 0; j < ny; ++j) {
            uint16_t* row =
                out + base + static_cast<int64_t>(j) * step[1] + static_cast<int64_t>(k) * step[2];
            const int64_t s = step[0];
            if constexpr (kTable) {
                const uint16_t* t = table.data() - tableOrigin;
                for (uint64_t i = 0; i < nx; ++i)
                    row[static_cast<int64_t>(i) * s] = t[static_cast<int64_t>(in[i])];
            } else {
                for (uint64_t i = 0; i < nx; ++i)
                    row[static_cast<int64_t>(i) * s] = MapValue(static_cast<double>(in[i]), low, scale);
            }
            in += nx;
        }
    }
}

}  // namespace scan_mapping
