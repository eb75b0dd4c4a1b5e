#include "fractals.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <initializer_list>

namespace {

// Points plotted between two calls of the progress hook: about a millisecond of drawing, so the
// hook costs nothing measurable, and a multiple of the fern's batch.
constexpr std::uint32_t kPointsPerChunk = std::uint32_t{1} << 20;

}  // namespace

std::pair<float, float> middle(std::pair<float, float> a, std::pair<float, float> b) {
    return {(a.first + b.first) / 2, (a.second + b.second) / 2};
}

void draw_triangle(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress) {
    const std::uint32_t w = bitmap.width;
    const std::uint32_t h = bitmap.height;
    const std::array<std::pair<float, float>, 3> corners = {{
        {0.0f, static_cast<float>(h - 1)},
        {static_cast<float>(w) / 2, 0.0f},
        {static_cast<float>(w - 1), static_cast<float>(h - 1)},
    }};
    // x is drawn before y: the order of the two rand() calls is part of the picture.
    const auto start_x = static_cast<std::uint32_t>(std::rand()) % w;
    const auto start_y = static_cast<std::uint32_t>(std::rand()) % h;
    std::pair<float, float> point{static_cast<float>(start_x), static_cast<float>(start_y)};
    // Counted down: the loop then ends on the decrement's own flags, one instruction fewer per
    // point in a loop of about thirty.
    for (std::uint32_t left = iterations; left > 0;) {
        const std::uint32_t chunk = std::min(left, kPointsPerChunk);
        left -= chunk;
        for (std::uint32_t i = chunk; i > 0; --i) {
            bitmap.set_pixel(static_cast<std::uint32_t>(point.first),
                             static_cast<std::uint32_t>(point.second));
            const auto corner = static_cast<std::uint32_t>(std::rand()) % 3;
            point = middle(point, corners[corner]);
        }
        if (progress != nullptr) {
            progress(iterations - left);
        }
    }
}

namespace {

// The fern's random stream is the minimal standard generator (Lehmer, multiplier 16807, modulus
// 2^31 - 1, state from 1). Two outputs g1, g2 give a uniform value
// ((g1 - 1) + (g2 - 1) * R) / (R * R), R = 2^31 - 2, rounded step by step in exactly this order:
// every rounding shows in the pixels.
constexpr std::uint32_t kModulus = 2147483647u;
constexpr std::uint64_t kRange = 2147483646u;  // distinct outputs, 1 to 2^31 - 2
constexpr double kRangeSquared = static_cast<double>(kRange) * static_cast<double>(kRange);

// a * s modulo 2^31 - 1, for a and s below the modulus. 2^31 is 1 modulo 2^31 - 1, so the
// product's high bits fold onto its low bits; their sum stays below twice the modulus, and one
// subtraction brings it into range.
constexpr std::uint32_t times_mod(std::uint32_t a, std::uint32_t s) {
    const std::uint64_t product = std::uint64_t{a} * s;
    auto folded = static_cast<std::uint32_t>((product & kModulus) + (product >> 31));
    return folded >= kModulus ? folded - kModulus : folded;
}

// The numerator (g1 - 1) + (g2 - 1) * R computed exactly, below 2^62.
constexpr std::uint64_t numerator(std::uint32_t g1, std::uint32_t g2) {
    return (g1 - 1) + (g2 - 1) * kRange;
}

// The uniform value of an exact numerator, rounded as the fern always has: the high part times
// R, plus the low part, over R * R.
constexpr double uniform(std::uint64_t numerator) {
    const auto low = static_cast<double>(numerator % kRange);
    const auto high = static_cast<double>(numerator / kRange);
    return (low + high * static_cast<double>(kRange)) / kRangeSquared;
}

// Points drawn per batch. The output n steps ahead of a state s is 16807^n * s, so all the
// outputs of a batch come straight from the state it starts from, none waiting on another.
constexpr std::size_t kBatch = 64;

constexpr auto kPowers = [] {
    std::array<std::uint32_t, 2 * kBatch> powers{};
    std::uint32_t power = 1;
    for (std::uint32_t& p : powers) {
        power = times_mod(16807, power);
        p = power;
    }
    return powers;
}();
static_assert(kPowers[0] == 16807 && kPowers[1] == 282475249);
// The ten thousandth output from state 1, as the generator's authors give it.
static_assert([] {
    std::uint32_t s = 1;
    for (int i = 0; i < 10000; ++i) {
        s = times_mod(16807, s);
    }
    return s == 1043618065;
}());

// alignas: one map to a cache line, found from its index by a shift.
struct alignas(64) AffineMap {
    double bound;  // this map applies when r < bound, after the maps above it
    double a, b, c, d, e, f;
};

constexpr std::array<AffineMap, 4> kFernMaps = {{
    {0.85, 0.85, 0.04, -0.04, 0.85, 0.0, 1.6},
    {0.92, 0.2, -0.26, 0.23, 0.22, 0.0, 1.6},
    {0.99, -0.15, 0.28, 0.26, 0.24, 0.0, 0.44},
    {2.0, 0.0, 0.0, 0.0, 0.16, 0.0, 0.0},  // r is below 1: the last map takes the rest
}};

// The least exact numerator whose uniform value reaches `bound`, or 0 if it cannot be proven.
// The rounded numerator is within 1024 of the exact one (two roundings below 2^63, each by at most
// half of a spacing of at most 1024), and the rounded division never reverses an order. So a
// numerator more than 2048 below the least one found rounds no higher than one inside the
// window checked, which falls short, and one more than 2048 above rounds no lower than one that
// reaches the bound: with every numerator of the window checked, the comparison with the
// threshold gives the same choice as the uniform value for all of them.
constexpr std::uint64_t threshold(double bound) {
    constexpr std::uint64_t kWindow = 4096;
    constexpr std::uint64_t kMargin = 2048;
    const auto centre = static_cast<std::uint64_t>(bound * kRangeSquared);
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

constexpr std::array<std::uint64_t, 3> kThresholds = {
    threshold(kFernMaps[0].bound), threshold(kFernMaps[1].bound), threshold(kFernMaps[2].bound)};
static_assert(kThresholds[0] != 0 && kThresholds[1] != 0 && kThresholds[2] != 0);

// The map that the uniform value of outputs g1, g2 picks: the first whose bound it is below.
constexpr std::size_t reference_map(std::uint32_t g1, std::uint32_t g2) {
    const double r = uniform(numerator(g1, g2));
    std::size_t i = 0;
    while (i + 1 < kFernMaps.size() && !(r < kFernMaps[i].bound)) {
        ++i;
    }
    return i;
}

// The second output of a pair weighs R times the first, so it alone decides the map unless it
// equals that of a threshold. Split by its top 11 bits, only 3 of the 2048 ranges of second
// outputs hold a threshold's; the others pick one map throughout, read from a table of 2 KiB
// instead of comparing. Points in the other 3 ranges, 1 in 700, compare the exact numerator.
constexpr int kRangeShift = 20;
constexpr std::uint8_t kUndecided = kFernMaps.size();
constexpr auto kMapOfRange = [] {
    std::array<std::uint8_t, (kModulus >> kRangeShift) + 1> maps{};
    for (std::uint32_t range = 0; range < maps.size(); ++range) {
        const std::uint32_t first = range << kRangeShift;
        const std::uint32_t last = first + ((1u << kRangeShift) - 1);
        std::uint8_t map = 0;
        for (const std::uint64_t threshold : kThresholds) {
            const auto high = static_cast<std::uint32_t>(threshold / kRange + 1);
            if (high >= first && high <= last) {
                map = kUndecided;
                break;
            }
            map = static_cast<std::uint8_t>(map + (high < first ? 1 : 0));
        }
        maps[range] = map;
    }
    return maps;
}();

// The index of the map for outputs g1 and g2. `first` gives g1, a full draw rarely needed.
template <class FirstOutput>
constexpr std::size_t pick_map(FirstOutput first, std::uint32_t g2) {
    const std::size_t map = kMapOfRange[g2 >> kRangeShift];
    if (map == kUndecided) [[unlikely]] {
        const std::uint64_t n = numerator(first(), g2);
        return static_cast<std::size_t>(n >= kThresholds[0]) +
               static_cast<std::size_t>(n >= kThresholds[1]) +
               static_cast<std::size_t>(n >= kThresholds[2]);
    }
    return map;
}

// The same choice as the uniform value's: around each threshold, for second outputs just below,
// at and just above its own, with first outputs from the least to the greatest through those of
// the threshold and its neighbours; and at both ends of every range of the table.
static_assert([] {
    for (const std::uint64_t threshold : kThresholds) {
        const auto high = static_cast<std::uint32_t>(threshold / kRange + 1);
        const auto low = static_cast<std::uint32_t>(threshold % kRange + 1);
        for (const std::uint32_t g2 : {high - 1, high, high + 1}) {
            for (const std::uint32_t g1 : {1u, low - 1, low, low + 1, kModulus - 1}) {
                if (pick_map([g1] { return g1; }, g2) != reference_map(g1, g2)) {
                    return false;
                }
            }
        }
    }
    return true;
}());
static_assert([] {
    for (std::uint32_t range = 0; range < kMapOfRange.size(); ++range) {
        const std::uint32_t first = std::max(range << kRangeShift, 1u);
        const std::uint32_t last = std::min((range + 1) << kRangeShift, kModulus) - 1;
        for (const std::uint32_t g2 : {first, last}) {
            for (const std::uint32_t g1 : {1u, kModulus - 1}) {
                if (pick_map([g1] { return g1; }, g2) != reference_map(g1, g2)) {
                    return false;
                }
            }
        }
    }
    return true;
}());

// Two doubles handled as one by the processor's vector instructions, lane by lane, each
// lane rounded exactly as a lone double would be.
typedef double Pair __attribute__((vector_size(16)));

}  // namespace

void draw_fern(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress) {
    const auto w = static_cast<double>(bitmap.width);
    const auto h = static_cast<double>(bitmap.height);
    const double half_w = w / 2;
    // The start point takes the first four outputs.
    constexpr double kStartX = uniform(numerator(kPowers[0], kPowers[1]));
    constexpr double kStartY = uniform(numerator(kPowers[2], kPowers[3]));
    double x = kStartX;
    double y = kStartY;
    std::uint32_t state = kPowers[3];
    // The orbit does not depend on the size. Over the longest run, 2^32 - 1 points, x stays
    // within [-2.19, 2.66] and y within [0.002, 9.999]: columns 28 % to 77 % of the width and
    // rows 0 to 84 % of the height, inside any bitmap without clipping.
    for (std::uint32_t left = iterations; left > 0;) {
        const std::uint32_t chunk_end = left - std::min(left, kPointsPerChunk);
        while (left > chunk_end) {
            const std::uint32_t count = std::min<std::uint32_t>(left, kBatch);
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint32_t g2 = times_mod(kPowers[2 * i + 1], state);
                const AffineMap& m =
                    kFernMaps[pick_map([&] { return times_mod(kPowers[2 * i], state); }, g2)];
                const double next_x = m.a * x + m.b * y + m.e;
                const double next_y = m.c * x + m.d * y + m.f;
                x = next_x;
                y = next_y;
                // Column w / 2 + (x * w) / 10 and row (y * h) / 12, both products and both
                // quotients worked out side by side: each rounds as it would alone, and the two
                // divisions, the slowest steps of the loop, take one instruction.
                const Pair scaled = (Pair{x, y} * Pair{w, h}) / Pair{10, 12};
                bitmap.set_pixel(static_cast<std::uint32_t>(half_w + scaled[0]),
                                 static_cast<std::uint32_t>(scaled[1]));
            }
            state = times_mod(kPowers[2 * count - 1], state);
            left -= count;
        }
        if (progress != nullptr) {
            progress(iterations - left);
        }
    }
}
