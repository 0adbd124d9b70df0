// Turning a scan's grid to the program's orientation and mapping its values
// onto 12 bits: plain computation over the samples the readers (ITK) gave,
// for scan_import.cpp alone.
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

// False when no value is finite (or there are none).
template <typename T>
bool ValueRange(const T* values, uint64_t count, double* low, double* high) {
    if constexpr (std::is_floating_point_v<T>) {
        double lo = std::numeric_limits<double>::infinity(), hi = -lo;
        for (uint64_t i = 0; i < count; ++i) {
            const double v = static_cast<double>(values[i]);
            if (std::isfinite(v)) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        *low = lo;
        *high = hi;
        return lo <= hi;
    } else {
        T lo = count ? values[0] : T{}, hi = lo;
        for (uint64_t i = 0; i < count; ++i) {
            lo = std::min(lo, values[i]);
            hi = std::max(hi, values[i]);
        }
        *low = static_cast<double>(lo);
        *high = static_cast<double>(hi);
        return count > 0;
    }
}

inline uint16_t MapValue(double v, double low, double scale) {
    if (!(v >= low))  // below the range, or NaN
        return 0;
    const double t = (v - low) * scale + 0.5;
    return t >= 4095.0 ? 4095 : static_cast<uint16_t>(t);
}

// Writes `in` (grid order) into `out` in the program's order, each value
// mapped from [low, high] onto 0..4095.
template <typename T>
void PlaceAndMap(const T* in, const Grid& grid, const Placement& placement, double low, double high,
                 uint16_t* out) {
    const double scale = high > low ? 4095.0 / (high - low) : 0.0;
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
