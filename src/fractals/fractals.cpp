#include "fractals.hpp"

#include "fern_maps.hpp"
#include "triangle_numbers.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

// Points plotted between two calls of the progress hook: a few milliseconds of drawing, so that
// the hook costs nothing measurable, and a multiple of the fern's batch.
constexpr std::uint32_t kPointsPerChunk = std::uint32_t{1} << 20;

}  // namespace

std::pair<float, float> middle(std::pair<float, float> a, std::pair<float, float> b) {
    return {(a.first + b.first) / 2, (a.second + b.second) / 2};
}

namespace {

// The triangle's numbers, seeded by seed_triangle and moved on by each drawing, as rand()'s own
// state would be.
TriangleNumbers g_triangle_numbers(1);

}  // namespace

void seed_triangle(unsigned seed) {
    // Both seeded, so that whichever path draws gives the numbers rand() would.
    std::srand(seed);
    g_triangle_numbers = TriangleNumbers(seed);
}

template <class Numbers>
void draw_triangle_with(Numbers& numbers, CBitmap& bitmap, std::uint32_t iterations,
                        PlotProgress progress) {
    // A copy of the generator that no pixel store can alias, so that its state is not reloaded
    // after each one.
    Numbers local = numbers;
    const std::uint32_t w = bitmap.width;
    const std::uint32_t h = bitmap.height;
    const std::array<std::pair<float, float>, 3> corners = {{
        {0.0f, static_cast<float>(h - 1)},
        {static_cast<float>(w) / 2, 0.0f},
        {static_cast<float>(w - 1), static_cast<float>(h - 1)},
    }};
    // x is drawn before y: the order of the two numbers is part of the picture.
    const std::uint32_t start_x = local.next() % w;
    const std::uint32_t start_y = local.next() % h;
    std::pair<float, float> point{static_cast<float>(start_x), static_cast<float>(start_y)};
    // Counted down: the loop then ends on the decrement's own flags, one instruction fewer per
    // point in a loop of about thirty.
    for (std::uint32_t left = iterations; left > 0;) {
        const std::uint32_t chunk = std::min(left, kPointsPerChunk);
        left -= chunk;
        for (std::uint32_t i = chunk; i > 0; --i) {
            bitmap.set_pixel(static_cast<std::uint32_t>(point.first),
                             static_cast<std::uint32_t>(point.second));
            point = middle(point, corners[local.next() % 3]);
        }
        if (progress != nullptr) {
            progress(iterations - left);
        }
    }
    numbers = local;
}

template void draw_triangle_with(LibraryNumbers&, CBitmap&, std::uint32_t, PlotProgress);
#ifdef __GLIBC__
template void draw_triangle_with(GlibcNumbers&, CBitmap&, std::uint32_t, PlotProgress);
#endif

void draw_triangle(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress) {
    draw_triangle_with(g_triangle_numbers, bitmap, iterations, progress);
}

namespace {

// The fern's generator: each step sets state = 16807 * state mod 2^31 - 1 and gives the new
// state; the first state is 1.
using fern::kModulus;

// a * s modulo 2^31 - 1, for a and s below the modulus. 2^31 is 1 modulo 2^31 - 1, so the
// product's high bits fold onto its low bits; their sum stays below twice the modulus, and one
// subtraction brings it below the modulus.
constexpr std::uint32_t times_mod(std::uint32_t a, std::uint32_t s) {
    const std::uint64_t product = std::uint64_t{a} * s;
    auto folded = static_cast<std::uint32_t>((product & kModulus) + (product >> 31));
    return folded >= kModulus ? folded - kModulus : folded;
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

// Two doubles handled as one by the processor's vector instructions, lane by lane, each
// lane rounded exactly as a lone double would be.
typedef double Pair __attribute__((vector_size(16)));

}  // namespace

void draw_fern(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress) {
    const auto w = static_cast<double>(bitmap.width);
    const auto h = static_cast<double>(bitmap.height);
    const double half_w = w / 2;
    // The start point takes the first four outputs.
    constexpr double kStartX = fern::uniform(fern::numerator(kPowers[0], kPowers[1]));
    constexpr double kStartY = fern::uniform(fern::numerator(kPowers[2], kPowers[3]));
    double x = kStartX;
    double y = kStartY;
    std::uint32_t state = kPowers[3];
    // The orbit does not depend on the size. Over the longest run, 2^32 - 1 points, x stays
    // within [-2.19, 2.66] and y within [0.002, 9.999]: columns 28 % to 77 % of the width and
    // rows 0 to 83 % of the height, inside any bitmap without clipping.
    for (std::uint32_t left = iterations; left > 0;) {
        const std::uint32_t chunk_end = left - std::min(left, kPointsPerChunk);
        while (left > chunk_end) {
            const std::uint32_t count = std::min<std::uint32_t>(left, kBatch);
            for (std::uint32_t i = 0; i < count; ++i) {
                // Two outputs pick a map (fern::pick_map), the second alone in all but 1 point
                // in 700; the map moves the point.
                const std::uint32_t g2 = times_mod(kPowers[2 * i + 1], state);
                std::size_t map = fern::map_of_slice(g2);
                if (map == fern::kUndecided) [[unlikely]] {
                    const std::uint32_t g1 = times_mod(kPowers[2 * i], state);
                    map = fern::map_of_numerator(fern::numerator(g1, g2));
                }
                const fern::AffineMap& m = fern::kMaps[map];
                const double next_x = m.a * x + m.b * y + m.e;
                const double next_y = m.c * x + m.d * y + m.f;
                x = next_x;
                y = next_y;
                // The point is plotted at column w / 2 + (x * w) / 10 and row (y * h) / 12,
                // both products and both quotients worked out side by side: each rounds as it
                // would alone, and the two divisions, the slowest steps of the loop, take one
                // instruction.
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
