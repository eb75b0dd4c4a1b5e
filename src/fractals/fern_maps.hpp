// The fern's four affine maps, and which one a pair of outputs of its generator picks.
//
// Contract: for every pair of outputs g1, g2 of the generator (each from 1 to 2^31 - 2),
// pick_map(g1, g2) is the map that the uniform value U of the pair picks: the first whose bound
// U is below, U being ((g1 - 1) + (g2 - 1) * R) / (R * R), R = 2^31 - 2, rounded as uniform()
// rounds it. It gets there without forming U, by two shortcuts:
//
// 1. Thresholds. U is worked out from the exact numerator n = (g1 - 1) + (g2 - 1) * R, and
//    differs from n / (R * R) by two roundings of numbers below 2^63, each by at most half a
//    spacing of at most 1024: the rounded numerator is within 1024 of n. The rounded division
//    never reverses an order. So for each bound, threshold() finds at compile time the least n
//    whose U reaches it, and checks every n of a window around it: those below it fall short,
//    those from it on reach the bound. A numerator more than 2048 below the window's least
//    rounds no higher than one inside the window that falls short, and one more than 2048 above
//    rounds no lower than one that reaches the bound; threshold() accepts only a least numerator
//    more than 2048 from either end of the window. Hence n >= threshold exactly when U >= bound,
//    for every n, and the map is the number of thresholds that n reaches.
// 2. Slices. The second output weighs R times the first: for any g1, n reaches a threshold when
//    g2 is above the threshold's own second output and falls short when it is below. Split by
//    their top 11 bits into 2048 slices, the second outputs of all but 3 slices lie on one side
//    of every threshold, so the slice alone gives the map; a table of 2 KiB holds it. Only in
//    the 3 slices that hold a threshold's second output, 1 point in 700, is n compared.
//
// The static_asserts at the end check the result against U itself around every threshold and
// at both ends of every slice.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace fern {

// The generator: the minimal standard one (Lehmer, multiplier 16807, modulus 2^31 - 1). Its
// outputs go from 1 to 2^31 - 2: R of them.
inline constexpr std::uint32_t kModulus = 2147483647u;
inline constexpr std::uint64_t kOutputCount = 2147483646u;
inline constexpr double kOutputCountSquared =
    static_cast<double>(kOutputCount) * static_cast<double>(kOutputCount);

// The numerator (g1 - 1) + (g2 - 1) * R computed exactly, below 2^62.
constexpr std::uint64_t numerator(std::uint32_t g1, std::uint32_t g2) {
    return (g1 - 1) + (g2 - 1) * kOutputCount;
}

// The uniform value of an exact numerator, rounded as the fern always has: the high part times
// R, plus the low part, over R * R. Every rounding shows in the pixels.
constexpr double uniform(std::uint64_t numerator) {
    const auto low = static_cast<double>(numerator % kOutputCount);
    const auto high = static_cast<double>(numerator / kOutputCount);
    return (low + high * static_cast<double>(kOutputCount)) / kOutputCountSquared;
}

// x' = a x + b y + e, y' = c x + d y + f. alignas: one map to a cache line, found from its index
// by a shift.
struct alignas(64) AffineMap {
    double bound;  // this map applies when U < bound, after the maps above it
    double a, b, c, d, e, f;
};

inline constexpr std::array<AffineMap, 4> kMaps = {{
    {0.85, 0.85, 0.04, -0.04, 0.85, 0.0, 1.6},
    {0.92, 0.2, -0.26, 0.23, 0.22, 0.0, 1.6},
    {0.99, -0.15, 0.28, 0.26, 0.24, 0.0, 0.44},
    {2.0, 0.0, 0.0, 0.0, 0.16, 0.0, 0.0},  // U is below 1: the last map takes the rest
}};

// The least numerator whose uniform value reaches `bound`, or 0 if it cannot be proven (step 1).
constexpr std::uint64_t threshold(double bound) {
    constexpr std::uint64_t kWindow = 4096;
    constexpr std::uint64_t kMargin = 2048;
    const auto centre = static_cast<std::uint64_t>(bound * kOutputCountSquared);
    std::uint64_t least = 0;
    for (std::uint64_t n = centre - kWindow; n <= centre + kWindow; ++n) {
        const bool reaches = uniform(n) >= bound;
        if (reaches && least == 0) {
            least = n;
        }
        if (reaches != (least != 0)) {
            return 0;
        }
    }
    const bool inside = least > centre - kWindow + kMargin && least < centre + kWindow - kMargin;
    return inside ? least : 0;
}

inline constexpr std::array<std::uint64_t, 3> kThresholds = {
    threshold(kMaps[0].bound), threshold(kMaps[1].bound), threshold(kMaps[2].bound)};
static_assert(kThresholds[0] != 0 && kThresholds[1] != 0 && kThresholds[2] != 0);

// The map of every slice of second outputs, or kUndecided for the slices that hold the second
// output of a threshold (step 2).
inline constexpr int kSliceShift = 20;
inline constexpr std::uint8_t kUndecided = kMaps.size();
inline constexpr auto kMapOfSlice = [] {
    std::array<std::uint8_t, (kModulus >> kSliceShift) + 1> maps{};
    for (std::uint32_t slice = 0; slice < maps.size(); ++slice) {
        const std::uint32_t first = slice << kSliceShift;
        const std::uint32_t last = first + ((1u << kSliceShift) - 1);
        std::uint8_t map = 0;
        for (const std::uint64_t threshold : kThresholds) {
            const auto high = static_cast<std::uint32_t>(threshold / kOutputCount + 1);
            if (high >= first && high <= last) {
                map = kUndecided;
                break;
            }
            map = static_cast<std::uint8_t>(map + (high < first ? 1 : 0));
        }
        maps[slice] = map;
    }
    return maps;
}();

// The map of a slice, or kUndecided.
constexpr std::size_t map_of_slice(std::uint32_t g2) {
    return kMapOfSlice[g2 >> kSliceShift];
}

// The map of an exact numerator: the number of thresholds it reaches.
constexpr std::size_t map_of_numerator(std::uint64_t n) {
    return static_cast<std::size_t>(n >= kThresholds[0]) +
           static_cast<std::size_t>(n >= kThresholds[1]) +
           static_cast<std::size_t>(n >= kThresholds[2]);
}

// The index in kMaps of the map that outputs g1 and g2 pick, as draw_fern picks it (where g1 is
// worked out only in the rare branch that reads it).
constexpr std::size_t pick_map(std::uint32_t g1, std::uint32_t g2) {
    const std::size_t map = map_of_slice(g2);
    return map != kUndecided ? map : map_of_numerator(numerator(g1, g2));
}

// What the contract promises: the first map whose bound the uniform value is below.
constexpr std::size_t map_of_uniform(std::uint32_t g1, std::uint32_t g2) {
    const double u = uniform(numerator(g1, g2));
    std::size_t i = 0;
    while (i + 1 < kMaps.size() && !(u < kMaps[i].bound)) {
        ++i;
    }
    return i;
}

// Around each threshold: second outputs just below, at and just above its own, with first
// outputs from the least to the greatest through those of the threshold and its neighbours.
static_assert([] {
    for (const std::uint64_t threshold : kThresholds) {
        const auto high = static_cast<std::uint32_t>(threshold / kOutputCount + 1);
        const auto low = static_cast<std::uint32_t>(threshold % kOutputCount + 1);
        for (const std::uint32_t g2 : {high - 1, high, high + 1}) {
            for (const std::uint32_t g1 : {1u, low - 1, low, low + 1, kModulus - 1}) {
                if (pick_map(g1, g2) != map_of_uniform(g1, g2)) {
                    return false;
                }
            }
        }
    }
    return true;
}());
// Both ends of every slice, with the least and the greatest first output.
static_assert([] {
    for (std::uint32_t slice = 0; slice < kMapOfSlice.size(); ++slice) {
        const std::uint32_t first = std::max(slice << kSliceShift, 1u);
        const std::uint32_t last = std::min((slice + 1) << kSliceShift, kModulus) - 1;
        for (const std::uint32_t g2 : {first, last}) {
            for (const std::uint32_t g1 : {1u, kModulus - 1}) {
                if (pick_map(g1, g2) != map_of_uniform(g1, g2)) {
                    return false;
                }
            }
        }
    }
    return true;
}());

}  // namespace fern
