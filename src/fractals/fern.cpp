#include "fern_maps.hpp"
#include "fractals.hpp"
#include "ranges.hpp"

#include <algorithm>
#include <array>
#include <vector>

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

// The state after `steps` steps from state 1: 16807^steps modulo 2^31 - 1.
constexpr std::uint32_t state_after(std::uint64_t steps) {
    std::uint32_t state = 1;
    for (std::uint32_t square = 16807; steps > 0; steps >>= 1, square = times_mod(square, square)) {
        if ((steps & 1) != 0) {
            state = times_mod(state, square);
        }
    }
    return state;
}

// Points drawn per batch. The output n steps ahead of a state s is 16807^n * s, so all the
// outputs of a batch come straight from the state it starts from, none waiting on another.
constexpr std::uint32_t kBatch = 64;

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
static_assert(state_after(10000) == 1043618065 && state_after(2 * kBatch) == kPowers.back());

// Calls `use` with the map of each of the next `count` points, the generator standing at
// `state`, which it moves on past their outputs. Two outputs pick a map (fern::pick_map), the
// second alone in all but 1 point in 700.
template <class Use>
void each_map(std::uint32_t& state, std::uint32_t count, Use use) {
    while (count > 0) {
        const std::uint32_t batch = std::min(count, kBatch);
        for (std::uint32_t i = 0; i < batch; ++i) {
            const std::uint32_t g2 = times_mod(kPowers[2 * i + 1], state);
            std::size_t map = fern::map_of_slice(g2);
            if (map == fern::kUndecided) [[unlikely]] {
                const std::uint32_t g1 = times_mod(kPowers[2 * i], state);
                map = fern::map_of_numerator(fern::numerator(g1, g2));
            }
            use(map);
        }
        state = times_mod(kPowers[2 * batch - 1], state);
        count -= batch;
    }
}

struct Point {
    double x, y;
    bool operator==(const Point&) const = default;
};
static_assert(sizeof(Point) + 1 <= kRangeBytes);

// The map's move: every step of every chain, warm-up included, goes through here, so that no
// build can round one differently from another.
constexpr Point step(Point p, std::size_t map) {
    const fern::AffineMap& m = fern::kMaps[map];
    return {m.a * p.x + m.b * p.y + m.e, m.c * p.x + m.d * p.y + m.f};
}

// The start point takes the first four outputs.
constexpr Point kStart = {fern::uniform(fern::numerator(kPowers[0], kPowers[1])),
                          fern::uniform(fern::numerator(kPowers[2], kPowers[3]))};

// The least and greatest coordinates of a set of points.
struct Box {
    Point low, high;
};

// The box that holds each map's image of `box`. Each rounded coordinate of a map's move is
// monotone in x and in y, so that it is least and greatest at corners of the box.
constexpr Box step(const Box& box, std::size_t map) {
    const Point corners[] = {step(box.low, map), step(Point{box.low.x, box.high.y}, map),
                             step(Point{box.high.x, box.low.y}, map), step(box.high, map)};
    Box image{corners[0], corners[0]};
    for (const Point& c : corners) {
        image.low = {std::min(image.low.x, c.x), std::min(image.low.y, c.y)};
        image.high = {std::max(image.high.x, c.x), std::max(image.high.y, c.y)};
    }
    return image;
}

// A box that every map takes into itself, the start point inside: it holds every point.
constexpr Box kOrbit = {{-4, -1}, {4, 12}};
static_assert([] {
    for (std::size_t map = 0; map < fern::kMaps.size(); ++map) {
        const Box image = step(kOrbit, map);
        if (image.low.x < kOrbit.low.x || image.low.y < kOrbit.low.y ||
            image.high.x > kOrbit.high.x || image.high.y > kOrbit.high.y) {
            return false;
        }
    }
    return kStart.x >= 0 && kStart.x < 1 && kStart.y >= 0 && kStart.y < 1;
}());

// Two doubles handled as one by the processor's vector instructions, lane by lane, each
// lane rounded exactly as a lone double would be.
typedef double Pair __attribute__((vector_size(16)));

// The fern of a drawing, cut into ranges. Point 0 is the start; point i + 1 is point i moved
// by the map that outputs 4 + 2i + 1 and 4 + 2i + 2 pick, and plotted.
class FernDrawing {
  public:
    FernDrawing(CBitmap& bitmap, std::uint32_t points, const DrawingPlan& plan)
        : bitmap_(bitmap),
          plotter_(bitmap),
          warm_up_(plan.warm_up),
          ranges_{points, plan.range_points, draw_warmed, draw_handed_over, this},
          ends_(ranges_.count()) {}

    const RangedDrawing& ranges() const { return ranges_; }

  private:
    template <bool kShared>
    Point plot_from(Point p, std::uint32_t state, std::uint32_t count) {
        // Locals, which no pixel's store can be taken to change, unlike the members.
        const CBitmap& bitmap = bitmap_;
        const Plotter plotter = plotter_;
        const auto w = static_cast<double>(bitmap.width);
        const auto h = static_cast<double>(bitmap.height);
        const double half_w = w / 2;
        each_map(state, count, [&](std::size_t map) {
            p = step(p, map);
            // The point is plotted at column w / 2 + (x * w) / 10 and row (y * h) / 12, both
            // products and both quotients worked out side by side: each rounds as it would
            // alone, and the two divisions, the slowest steps of the loop, take one instruction.
            const Pair scaled = (Pair{p.x, p.y} * Pair{w, h}) / Pair{10, 12};
            plotter.plot<kShared>(static_cast<std::uint32_t>(half_w + scaled[0]),
                                  static_cast<std::uint32_t>(scaled[1]));
        });
        return p;
    }

    // The generator's state before the outputs that move point `index`.
    static std::uint32_t state_at(std::uint32_t index) {
        return state_after(4 + 2 * std::uint64_t{index});
    }

    static void draw_handed_over(void* drawing, std::uint32_t range) {
        auto& d = *static_cast<FernDrawing*>(drawing);
        const std::uint32_t first = range * d.ranges_.range_points;
        const Point start = range == 0 ? kStart : d.ends_[range - 1];
        d.ends_[range] = d.plot_from<false>(start, state_at(first), d.ranges_.end(range) - first);
    }

    // The orbit's box, moved by the maps that pick the points before the range's first, shrinks
    // round the true point; once it holds one point only, that is the true one.
    static bool draw_warmed(void* drawing, std::uint32_t range) {
        auto& d = *static_cast<FernDrawing*>(drawing);
        const std::uint32_t first = range * d.ranges_.range_points;
        const std::uint32_t from = first - std::min(first, d.warm_up_);
        Box box = from == 0 ? Box{kStart, kStart} : kOrbit;
        std::uint32_t state = state_at(from);
        each_map(state, first - from, [&](std::size_t map) { box = step(box, map); });
        if (box.low != box.high) {
            return false;
        }
        d.ends_[range] = d.plot_from<true>(box.low, state, d.ranges_.end(range) - first);
        return true;
    }

    CBitmap& bitmap_;
    Plotter plotter_;
    std::uint32_t warm_up_;
    RangedDrawing ranges_;
    std::vector<Point> ends_;  // the point after each range
};

}  // namespace

// The orbit does not depend on the size. Over the longest run, 2^32 - 1 points, x stays within
// [-2.19, 2.66] and y within [0.002, 9.999]: columns 28 % to 77 % of the width and rows 0 to
// 83 % of the height, inside any bitmap without clipping.
void draw_fern(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress,
               const DrawingPlan& plan) {
    FernDrawing drawing(bitmap, iterations, plan);
    draw_ranges(drawing.ranges(), plan.threads != 0 ? plan.threads : drawing_threads(iterations),
                progress);
}
