#include "fractals.hpp"

#include <array>
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

// The minimal standard generator: Lehmer, multiplier 16807, modulus 2^31 - 1, state from 1.
class MinimalStandard {
  public:
    std::uint32_t next() {
        // 2^31 is 1 modulo 2^31 - 1, so the product's high bits fold onto its low bits; one
        // subtraction then brings the sum, below 2^31 + 16807, into range.
        constexpr std::uint32_t kModulus = 2147483647u;
        const std::uint64_t product = std::uint64_t{16807} * state_;
        std::uint32_t folded = static_cast<std::uint32_t>((product & kModulus) + (product >> 31));
        if (folded >= kModulus) {
            folded -= kModulus;
        }
        state_ = folded;
        return state_;
    }

    // A uniform value in [0, 1) from two outputs, the second weighing R times the first:
    // ((g1 - 1) + (g2 - 1) * R) / (R * R), rounded step by step in exactly this order, since the
    // fern's pixels depend on every rounding.
    double uniform() {
        constexpr double kRange = 2147483646.0;  // distinct outputs, 1 to 2^31 - 2
        constexpr double kRangeSquared = kRange * kRange;
        const auto low = static_cast<double>(next() - 1);
        const auto high = static_cast<double>(next() - 1);
        return (low + high * kRange) / kRangeSquared;
    }

  private:
    std::uint32_t state_ = 1;
};

struct AffineMap {
    double bound;  // this map applies when r < bound, after the maps above it
    double a, b, c, d, e, f;
};

constexpr std::array<AffineMap, 4> kFernMaps = {{
    {0.85, 0.85, 0.04, -0.04, 0.85, 0.0, 1.6},
    {0.92, 0.2, -0.26, 0.23, 0.22, 0.0, 1.6},
    {0.99, -0.15, 0.28, 0.26, 0.24, 0.0, 0.44},
    {2.0, 0.0, 0.0, 0.0, 0.16, 0.0, 0.0},  // r is at most 1: the last map takes the rest
}};

const AffineMap& pick_map(double r) {
    std::size_t i = 0;
    while (i + 1 < kFernMaps.size() && !(r < kFernMaps[i].bound)) {
        ++i;
    }
    return kFernMaps[i];
}

}  // namespace

void draw_fern(CBitmap& bitmap, std::uint32_t iterations) {
    const auto w = static_cast<double>(bitmap.width);
    const auto h = static_cast<double>(bitmap.height);
    MinimalStandard random;
    double x = random.uniform();
    double y = random.uniform();
    // The orbit does not depend on the size. Over the longest run, 2^32 - 1 points, x stays
    // within [-2.19, 2.66] and y within [0.002, 9.999]: columns 28 % to 77 % of the width and
    // rows 0 to 84 % of the height, inside any bitmap without clipping.
    for (std::uint32_t i = 0; i < iterations; ++i) {
        const AffineMap& m = pick_map(random.uniform());
        const double next_x = m.a * x + m.b * y + m.e;
        const double next_y = m.c * x + m.d * y + m.f;
        x = next_x;
        y = next_y;
        bitmap.set_pixel(static_cast<std::uint32_t>(w / 2 + (x * w) / 10),
                         static_cast<std::uint32_t>((y * h) / 12));
    }
}
