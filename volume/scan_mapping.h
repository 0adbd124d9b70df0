// Turning a scan's grid to the program's orientation and mapping its values
// onto 12 bits through a value window: plain computation over the samples
// the readers (ITK) gave, for scan_import.cpp (and its tests) alone.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>
#include <thread>
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
    uint64_t atMin = 0;        // how many hold the minimum
    uint64_t nearAir = 0;      // within 100 of -1000 (air in Hounsfield units)
    uint64_t aboveAir = 0;     // in (-900, -700]: between air and fat, little in a CT
    uint64_t farBelowAir = 0;  // below -1200, other than the minimum itself
};

template <typename T>
ValueFacts SurveyValues(const T* values, uint64_t count) {
    ValueFacts facts;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    bool integral = true;
    uint64_t finite = 0, nearAir = 0, aboveAir = 0, belowAir = 0, atLowest = 0;
    for (uint64_t i = 0; i < count; ++i) {
        const double v = static_cast<double>(values[i]);
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(v))
                continue;
            integral = integral && v == std::floor(v);
        }
        ++finite;
        if (v <= lo)
            atLowest = v < lo ? 1 : atLowest + 1;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        nearAir += v >= -1100 && v <= -900;
        aboveAir += v > -900 && v <= -700;
        belowAir += v < -1200;
    }
    facts.anyFinite = finite > 0;
    facts.min = facts.anyFinite ? lo : 0;
    facts.max = facts.anyFinite ? hi : 0;
    facts.integral = integral;
    facts.finite = finite;
    facts.atMin = atLowest;
    facts.nearAir = nearAir;
    facts.aboveAir = aboveAir;
    facts.farBelowAir = belowAir - (lo < -1200 ? atLowest : 0);
    return facts;
}

// A scan without a modality is taken for a CT in Hounsfield units when its
// values are whole numbers, reach down to air (-900 or below), and air is a
// peak: at least 2% of the voxels lie within 100 HU of -1000, more than in
// the band just above it (-900 to -700 HU), where a CT has little, and more
// than below -1200 HU, where a CT has only its field-of-view padding (one
// value, its minimum). An MRI phase or velocity map, spread from -4096 up,
// has many more down there than near -1000.
inline bool LooksLikeCt(const ValueFacts& facts) {
    return facts.anyFinite && facts.integral && facts.min <= -900 && facts.nearAir * 50 >= facts.finite &&
           facts.nearAir > facts.aboveAir && facts.nearAir > facts.farBelowAir;
}

// Types of at most 16 bits are surveyed by counting each value once: one
// pass that both the facts and the automatic window's ranks are read from.
template <typename T>
inline constexpr bool kCountedType = std::is_integral_v<T> && sizeof(T) <= 2;

// How many of `values` hold each order key (OrderKey below), counted over
// `parts` ranges at once (one thread each). Each range counts into two
// tables in turn, so that runs of equal values do not wait on one counter.
template <typename T>
std::vector<uint64_t> CountOrderKeys(const T* values, uint64_t count, unsigned parts);

// The facts SurveyValues gives, read from CountOrderKeys' counts.
template <typename T>
ValueFacts FactsOfKeyCounts(const std::vector<uint64_t>& counts);

inline constexpr double kCtWindowLow = -1024, kCtWindowHigh = 3071;  // the 12-bit CT range in HU
inline constexpr double kAutoLowFraction = 0.001, kAutoHighFraction = 0.999;

// An unsigned integer that sorts as the value does (-0 as +0).
template <typename T>
auto OrderKey(T value) {
    if constexpr (std::is_floating_point_v<T>) {
        using Bits = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
        constexpr Bits kSign = Bits{1} << (8 * sizeof(T) - 1);
        const Bits bits = std::bit_cast<Bits>(static_cast<T>(value + T(0)));
        return static_cast<Bits>(bits & kSign ? ~bits : bits | kSign);
    } else if constexpr (std::is_signed_v<T>) {
        using Bits = std::make_unsigned_t<T>;
        return static_cast<Bits>(static_cast<Bits>(value) ^ (Bits{1} << (8 * sizeof(T) - 1)));
    } else {
        return value;
    }
}

template <typename T>
T ValueOfOrderKey(decltype(OrderKey(T{})) key) {
    using Bits = decltype(key);
    constexpr Bits kSign = Bits{1} << (8 * sizeof(Bits) - 1);
    if constexpr (std::is_floating_point_v<T>)
        return std::bit_cast<T>(static_cast<Bits>(key & kSign ? key & ~kSign : ~key));
    else if constexpr (std::is_signed_v<T>)
        return static_cast<T>(static_cast<Bits>(key ^ kSign));
    else
        return key;
}

struct RankedValue {
    double value = 0;
    uint64_t atOrBelow = 0;  // finite values not above it
};

// The finite value of rank `rank` (0 the smallest), exactly, whatever the
// spread: each pass over the values counts one 16-bit digit of the order
// keys that share the digits already found, and once few values share them
// those are sorted instead. Every search begins with the same pass over
// all the values; `firstCounts` keeps it for the next search (empty at first).
template <typename T>
RankedValue RankedFiniteValue(const T* values, uint64_t count, uint64_t rank,
                              std::vector<uint64_t>* firstCounts) {
    using Key = decltype(OrderKey(T{}));
    constexpr int kKeyBits = 8 * sizeof(Key);
    constexpr int kDigitBits = kKeyBits < 16 ? kKeyBits : 16;
    constexpr size_t kDigits = size_t{1} << kDigitBits;
    constexpr uint64_t kFewEnoughToSort = uint64_t{1} << 22;
    const auto finite = [](T v) {
        if constexpr (std::is_floating_point_v<T>)
            return std::isfinite(v);
        else
            return true;
    };
    Key prefix = 0;  // the digits found, in place
    int known = 0;   // how many of the key's top bits they are
    const auto shares = [&](Key key) {
        return known == 0 || (key >> (kKeyBits - known)) == (prefix >> (kKeyBits - known));
    };
    uint64_t below = 0;    // finite values whose key lies below those sharing the digits
    uint64_t sharing = 0;  // finite values that share them
    std::vector<uint64_t> counts;
    while (true) {
        const int shift = kKeyBits - known - kDigitBits;
        if (known == 0 && !firstCounts->empty()) {
            counts = *firstCounts;
        } else {
            counts.assign(kDigits, 0);
            for (uint64_t i = 0; i < count; ++i) {
                if (!finite(values[i]))
                    continue;
                const Key key = OrderKey(values[i]);
                if (shares(key))
                    ++counts[(key >> shift) & (kDigits - 1)];
            }
            if (known == 0)
                *firstCounts = counts;
        }
        size_t digit = 0;
        while (below + counts[digit] <= rank)
            below += counts[digit++];
        prefix = static_cast<Key>(prefix | (static_cast<Key>(digit) << shift));
        known += kDigitBits;
        sharing = counts[digit];
        if (known == kKeyBits)
            return {static_cast<double>(ValueOfOrderKey<T>(prefix)), below + sharing};
        if (sharing <= kFewEnoughToSort)
            break;
    }
    std::vector<double> few;
    few.reserve(sharing);
    for (uint64_t i = 0; i < count; ++i)
        if (finite(values[i]) && shares(OrderKey(values[i])))
            few.push_back(static_cast<double>(values[i]));
    const auto nth = few.begin() + static_cast<std::ptrdiff_t>(rank - below);
    std::nth_element(few.begin(), nth, few.end());
    const double value = *nth;
    return {value, below + static_cast<uint64_t>(
                               std::count_if(few.begin(), few.end(), [&](double v) { return v <= value; }))};
}

template <typename T>
std::vector<uint64_t> CountOrderKeys(const T* values, uint64_t count, unsigned parts) {
    static_assert(kCountedType<T>);
    constexpr size_t kKeys = size_t{1} << (8 * sizeof(T));
    // The second table starts a few lines past a multiple of 4 KiB from the
    // first: counters 4 KiB apart would seem to the processor to alias.
    constexpr size_t kSecond = kKeys + 32;
    // Counters of 32 bits hold one block's counts; the block's end adds them up.
    constexpr uint64_t kBlock = uint64_t{1} << 31;
    parts = static_cast<unsigned>(std::clamp<uint64_t>(parts, 1, std::max<uint64_t>(1, count >> 20)));
    std::vector<std::vector<uint64_t>> partCounts(parts, std::vector<uint64_t>(kKeys));
    const auto countPart = [&](unsigned part) {
        const uint64_t begin = count * part / parts, end = count * (part + 1) / parts;
        std::vector<uint32_t> tables(kSecond + kKeys);
        uint32_t* t = tables.data();
        std::vector<uint64_t>& total = partCounts[part];
        for (uint64_t from = begin; from < end; from += kBlock) {
            const uint64_t to = std::min(end, from + kBlock);
            uint64_t i = from;
            for (; i + 2 <= to; i += 2) {
                ++t[OrderKey(values[i])];
                ++t[kSecond + OrderKey(values[i + 1])];
            }
            for (; i < to; ++i)
                ++t[OrderKey(values[i])];
            for (size_t k = 0; k < kKeys; ++k) {
                total[k] += uint64_t{t[k]} + t[kSecond + k];
                t[k] = t[kSecond + k] = 0;
            }
        }
    };
    // Parts no thread could be had for are counted here.
    std::vector<std::thread> helpers;
    unsigned started = 1;
    for (; started < parts; ++started) {
        try {
            helpers.emplace_back(countPart, started);
        } catch (const std::system_error&) {
            break;
        }
    }
    for (unsigned part = started; part < parts; ++part)
        countPart(part);
    countPart(0);
    for (std::thread& helper : helpers)
        helper.join();
    for (unsigned part = 1; part < parts; ++part)
        for (size_t k = 0; k < kKeys; ++k)
            partCounts[0][k] += partCounts[part][k];
    return std::move(partCounts[0]);
}

template <typename T>
ValueFacts FactsOfKeyCounts(const std::vector<uint64_t>& counts) {
    ValueFacts facts;
    uint64_t belowAir = 0;
    bool any = false;
    for (size_t key = 0; key < counts.size(); ++key) {
        if (counts[key] == 0)
            continue;
        const double v = static_cast<double>(ValueOfOrderKey<T>(static_cast<decltype(OrderKey(T{}))>(key)));
        const uint64_t n = counts[key];
        if (!any) {
            facts.min = v;
            facts.atMin = n;
            any = true;
        }
        facts.max = v;
        facts.finite += n;
        facts.nearAir += v >= -1100 && v <= -900 ? n : 0;
        facts.aboveAir += v > -900 && v <= -700 ? n : 0;
        belowAir += v < -1200 ? n : 0;
    }
    facts.anyFinite = any;
    facts.integral = true;
    facts.farBelowAir = belowAir - (facts.min < -1200 ? facts.atMin : 0);
    return facts;
}

// The automatic window, which a few extreme voxels cannot move: from the
// 0.1st percentile of the finite values (the minimum itself whenever at
// least 0.1% of the voxels hold it, as a background does) up to the 99.9th
// percentile of the values above that. Both are exact values of the scan,
// found in a few passes whatever the range (a voxel at 1e300 beside values
// of 0..1000 leaves them their window). Falls back to [min, max] when no
// value lies above the low end. `keyCounts`: CountOrderKeys' counts of
// these values where they were made, which spare the searches their passes.
template <typename T>
void AutomaticWindow(const T* values, uint64_t count, const ValueFacts& facts, double* low, double* high,
                     std::vector<uint64_t> keyCounts = {}) {
    *low = facts.min;
    *high = facts.max;
    if (!facts.anyFinite || !(facts.max > facts.min))
        return;
    const auto ceilCount = [](double fraction, uint64_t n) {
        return std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(fraction * static_cast<double>(n))));
    };
    std::vector<uint64_t> firstCounts = std::move(keyCounts);
    const uint64_t lowRank = ceilCount(kAutoLowFraction, facts.finite) - 1;
    // A background at the minimum, as most scans have, needs no search.
    const RankedValue lowEnd = facts.atMin > lowRank
                                   ? RankedValue{facts.min, facts.atMin}
                                   : RankedFiniteValue(values, count, lowRank, &firstCounts);
    const uint64_t above = facts.finite - lowEnd.atOrBelow;
    if (above == 0)
        return;
    const RankedValue highEnd = RankedFiniteValue(
        values, count, lowEnd.atOrBelow + ceilCount(kAutoHighFraction, above) - 1, &firstCounts);
    if (highEnd.value > lowEnd.value) {
        *low = lowEnd.value;
        *high = highEnd.value;
    }
}

// Maps values from the window [low, high] onto 0..4095: below it and NaN
// to 0, above it (+inf too) to 4095; an empty window maps everything to 0.
// Halves keep a window wider than the largest double finite; a window so
// narrow that 4095 over its width is past the largest double (subnormal
// ends) is measured on values stretched by 2^64, exactly, first.
class ValueMap {
  public:
    ValueMap(double low, double high) : low_(low) {
        if (!(high > low))
            return;
        halfScale_ = 4095.0 / (high / 2 - low / 2);
        if (!std::isfinite(halfScale_)) {
            stretch_ = 0x1p64;
            halfScale_ = 4095.0 / (high * stretch_ / 2 - low * stretch_ / 2);
        }
        lowHalf_ = low * stretch_ / 2;
    }
    uint16_t operator()(double v) const {
        if (!(v >= low_))  // below the window, or NaN
            return 0;
        const double t = (v * stretch_ / 2 - lowHalf_) * halfScale_ + 0.5;
        return t < 4095.0 ? static_cast<uint16_t>(t) : (halfScale_ > 0 ? 4095 : 0);
    }

  private:
    double low_;
    double lowHalf_ = 0;
    double stretch_ = 1;
    double halfScale_ = 0;  // 0 for an empty window
};

// The samples in the program's order, made from `in` (grid order, which
// must outlive this) a run of rows at a time, each value mapped from the
// window [low, high] onto 0..4095. Row r is y = r % dimY, z = r / dimY of the
// placed grid, dimX samples long; the rows can be made in pieces, so that the
// 12-bit samples need never be held whole beside the stored ones.
template <typename T>
class PlacedRows {
  public:
    PlacedRows(const T* in, const Grid& grid, const Placement& placement, double low, double high)
        : in_(in), map_(low, high) {
        const std::array<int64_t, 3> inStride = {1, static_cast<int64_t>(grid.dims[0]),
                                                 static_cast<int64_t>(grid.dims[0] * grid.dims[1])};
        for (int o = 0; o < 3; ++o) {
            const int a = placement.gridAxis[o];
            dims_[o] = grid.dims[a];
            step_[o] = placement.reversed[o] ? -inStride[a] : inStride[a];
            if (placement.reversed[o])
                origin_ += static_cast<int64_t>(grid.dims[a] - 1) * inStride[a];
        }
        if constexpr (kTable) {
            table_.resize(size_t{1} << (8 * sizeof(T)));
            for (size_t i = 0; i < table_.size(); ++i)
                table_[i] = map_(static_cast<double>(static_cast<int64_t>(i) + kTableOrigin));
        }
    }

    // Rows [firstRow, endRow) into `out`, one after another. `gridOffset`:
    // where in `in` the grid begins, for another grid of the same shape
    // mapped through the same window (a channel's other time points).
    void Make(uint64_t firstRow, uint64_t endRow, uint16_t* out, uint64_t gridOffset = 0) const {
        const uint64_t nx = dims_[0];
        const int64_t s = step_[0];
        const T* in = in_ + gridOffset;
        for (uint64_t r = firstRow; r < endRow; ++r, out += nx) {
            const T* row = in + origin_ + static_cast<int64_t>(r % dims_[1]) * step_[1] +
                           static_cast<int64_t>(r / dims_[1]) * step_[2];
            if constexpr (kTable) {
                const uint16_t* t = table_.data() - kTableOrigin;
                for (uint64_t i = 0; i < nx; ++i)
                    out[i] = t[static_cast<int64_t>(row[static_cast<int64_t>(i) * s])];
            } else {
                for (uint64_t i = 0; i < nx; ++i)
                    out[i] = map_(static_cast<double>(row[static_cast<int64_t>(i) * s]));
            }
        }
    }

  private:
    // Small integer types: one table entry per possible value.
    static constexpr bool kTable = std::is_integral_v<T> && sizeof(T) <= 2;
    static constexpr int64_t kTableOrigin = kTable ? static_cast<int64_t>(std::numeric_limits<T>::min()) : 0;
    const T* in_;
    ValueMap map_;
    std::array<uint64_t, 3> dims_{};
    std::array<int64_t, 3> step_{};
    int64_t origin_ = 0;
    std::vector<uint16_t> table_;
};

}  // namespace scan_mapping
