#include "fractals.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

std::pair<float, float> middle(std::pair<float, float> a, std::pair<float, float> b) {
    return {(a.first + b.first) / 2, (a.second + b.second) / 2};
}

void draw_triangle(CBitmap& bitmap, std::uint32_t iterations) {
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
    for (std::uint32_t i = 0; i < iterations; ++i) {
        bitmap.set_pixel(static_cast<std::uint32_t>(point.first),
                         static_cast<std::uint32_t>(point.second));
        const auto corner = static_cast<std::uint32_t>(std::rand()) % 3;
        point = middle(point, corners[corner]);
    }
}

namespace {

// The fern's random stream is the minimal standard generator (Lehmer, multiplier 16807, modulus
// 2^31 - 1, state from 1), two outputs g1, g2 to a uniform value
// ((g1 - 1) + (g2 - 1) * R) / (R * R), R = 2^31 - 2, rounded step by step in exactly this order:
// every rounding shows in the pixels.
constexpr std::uint32_t kModulus = 2147483647u;
constexpr double kRange = 2147483646.0;  // distinct outputs, 1 to 2^31 - 2
constexpr double kRangeSquared = kRange * kRange;

// a * s modulo 2^31 - 1, for a and s below the modulus. 2^31 is 1 modulo 2^31 - 1, so the
// product's high bits fold onto its low bits; their sum stays below twice the modulus, and one
// subtraction brings it into range.
constexpr std::uint32_t times_mod(std::uint32_t a, std::uint32_t s) {
    const std::uint64_t product = std::uint64_t{a} * s;
    auto folded = static_cast<std::uint32_t>((product & kModulus) + (product >> 31));
    return folded >= kModulus ? folded - kModulus : folded;
}

// Points drawn per batch. Each output n steps ahead of a state s is 16807^n * s, so all the
// outputs of a batch come straight from the state it starts from, none waiting on another.
constexpr std::size_t kBatch = 64;
constexpr std::size_t kDraws = 2 * kBatch;

constexpr auto kPowers = [] {
    std::array<std::uint32_t, kDraws> powers{};
    std::uint32_t power = 1;
    for (std::uint32_t& p : powers) {
        power = times_mod(16807, power);
        p = power;
    }
    return powers;
}();
static_assert(kPowers[0] == 16807 && kPowers[1] == 282475249);
// The tenthousandth output from state 1, as the generator's authors give it.
static_assert([] {
    std::uint32_t s = 1;
    for (int i = 0; i < 10000; ++i) {
        s = times_mod(16807, s);
    }
    return s == 1043618065;
}());

// Fills `numerators` with (g1 - 1) + (g2 - 1) * R for the next numerators.size() pairs of
// outputs, and moves `state` past them: the uniform value is each one divided by R * R.
template <std::size_t N>
void draw_numerators(std::uint32_t& state, std::array<double, N>& numerators, std::size_t count) {
    const std::uint32_t s = state;
    for (std::size_t i = 0; i < count; ++i) {
        const auto low = static_cast<double>(times_mod(kPowers[2 * i], s) - 1);
        const auto high = static_cast<double>(times_mod(kPowers[2 * i + 1], s) - 1);
        numerators[i] = low + high * kRange;
    }
    state = times_mod(kPowers[2 * count - 1], s);
}

struct AffineMap {
    double bound;  // this map applies when r < bound, after the maps above it
    double a, b, c, d, e, f;
};

constexpr std::array<AffineMap, 4> kFernMaps = {{
    {0.85, 0.85, 0.04, -0.04, 0.85, 0.0, 1.6},
    {0.92, 0.2, -0.26, 0.23, 0.22, 0.0, 1.6},
    {0.99, -0.15, 0.28, 0.26, 0.24, 0.0, 0.44},
    {2.0, 0.0, 0.0, 0.0, 0.16, 0.0, 0.0},  // r is below 1: the last map takes the rest
}};

// The neighbouring doubles, through the bits: positive finite values only.
constexpr double next_up(double v) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) + 1);
}
constexpr double next_down(double v) {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(v) - 1);
}

// The least double n with n / (R * R) >= bound. Division by a positive value never reverses an
// order, so for any numerator n, n >= threshold exactly when the rounded uniform value n / (R * R)
// is at least the bound: comparing numerators picks the same map without dividing.
constexpr double threshold(double bound) {
    double n = bound * kRangeSquared;
    while (n / kRangeSquared < bound) {
        n = next_up(n);
    }
    while (next_down(n) / kRangeSquared >= bound) {
        n = next_down(n);
    }
    return n;
}

constexpr std::array<double, 3> kThresholds = {
    threshold(kFernMaps[0].bound), threshold(kFernMaps[1].bound), threshold(kFernMaps[2].bound)};
static_assert([] {
    for (std::size_t i = 0; i < kThresholds.size(); ++i) {
        if (!(kThresholds[i] / kRangeSquared >= kFernMaps[i].bound) ||
            !(next_down(kThresholds[i]) / kRangeSquared < kFernMaps[i].bound)) {
            return false;
        }
    }
    return kThresholds[0] < kThresholds[1] && kThresholds[1] < kThresholds[2];
}());

// The map for the uniform value numerator / (R * R): the first whose bound the value is below.
// Counting the thresholds passed needs no branch, where a branch on four maps of such unequal
// odds would often be mispredicted.
std::size_t pick_map(double numerator) {
    return static_cast<std::size_t>(numerator >= kThresholds[0]) +
           static_cast<std::size_t>(numerator >= kThresholds[1]) +
           static_cast<std::size_t>(numerator >= kThresholds[2]);
}

}  // namespace

void draw_fern(CBitmap& bitmap, std::uint32_t iterations) {
    const auto w = static_cast<double>(bitmap.width);
    const auto h = static_cast<double>(bitmap.height);
    const double half_w = w / 2;
    std::uint32_t state = 1;
    std::array<double, kBatch> numerators{};
    draw_numerators(state, numerators, 2);
    double x = numerators[0] / kRangeSquared;
    double y = numerators[1] / kRangeSquared;
    // The orbit does not depend on the size. Over the longest run, 2^32 - 1 points, x stays
    // within [-2.19, 2.66] and y within [0.002, 9.999]: columns 28 % to 77 % of the width and
    // rows 0 to 84 % of the height, inside any bitmap without clipping.
    for (std::uint32_t done = 0; done < iterations;) {
        const auto count = static_cast<std::size_t>(
            std::min<std::uint32_t>(iterations - done, static_cast<std::uint32_t>(kBatch)));
        draw_numerators(state, numerators, count);
        for (std::size_t i = 0; i < count; ++i) {
            const AffineMap& m = kFernMaps[pick_map(numerators[i])];
            const double next_x = m.a * x + m.b * y + m.e;
            const double next_y = m.c * x + m.d * y + m.f;
            x = next_x;
            y = next_y;
            bitmap.set_pixel(static_cast<std::uint32_t>(half_w + (x * w) / 10),
                             static_cast<std::uint32_t>((y * h) / 12));
        }
        done += static_cast<std::uint32_t>(count);
    }
}
