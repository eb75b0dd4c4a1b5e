#include "fractals.hpp"

#include "ranges.hpp"
#include "triangle_numbers.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

std::pair<float, float> middle(std::pair<float, float> a, std::pair<float, float> b) {
    return {(a.first + b.first) / 2, (a.second + b.second) / 2};
}

namespace {

// The triangle's numbers, seeded by seed_triangle and moved on by each drawing, as rand()'s own
// state would be.
TriangleNumbers g_triangle_numbers(1);
// Whether rand() was seen to give the numbers of g_triangle_numbers' kind, which threads can
// jump ahead in; where it was not, rand() itself draws, on one thread.
bool g_numbers_are_rand = true;

bool numbers_are_rand() {
#ifdef __GLIBC__
    constexpr unsigned kSeed = 20260101;
    std::srand(kSeed);
    GlibcNumbers numbers(kSeed);
    for (int i = 0; i < 4; ++i) {
        if (numbers.next() != static_cast<std::uint32_t>(std::rand())) {
            return false;
        }
    }
    return true;
#else
    return false;
#endif
}

using Point = std::pair<float, float>;
// A point's coordinates side by side in a vector register, and its pixel's.
typedef float Coordinates __attribute__((vector_size(8)));
typedef std::int32_t Pixel __attribute__((vector_size(8)));
static_assert(sizeof(Point) + 1 <= kRangeBytes);

// Numbers drawn at a time, so that drawing them waits on no pixel's store.
constexpr std::uint32_t kBatch = 64;

// Calls `use` with each batch of the next `count` numbers, kBatch at a time.
template <class Numbers, class Use>
void each_batch(Numbers& numbers, std::uint32_t count, Use use) {
    std::array<std::uint32_t, kBatch> batch;
    while (count > 0) {
        const std::span<std::uint32_t> drawn(batch.data(), std::min(count, kBatch));
        numbers.draw(drawn);
        use(std::as_const(drawn));
        count -= static_cast<std::uint32_t>(drawn.size());
    }
}

template <class Numbers>
constexpr bool kJumps = requires(Numbers& numbers) {
    numbers.jump(1);
};

// The chaos game of a drawing, cut into ranges. Point i is plotted, then moved by number 2 + i.
template <class Numbers>
class TriangleDrawing {
  public:
    TriangleDrawing(Numbers& numbers, CBitmap& bitmap, std::uint32_t points,
                    const DrawingPlan& plan)
        : running_(numbers),
          base_(numbers),
          plotter_(bitmap),
          warm_up_(plan.warm_up),
          ranges_{points, plan.range_points, draw_warmed, draw_handed_over, this},
          ends_(ranges_.count()) {
        const float w = static_cast<float>(bitmap.width);
        const float h = static_cast<float>(bitmap.height);
        corners_ = {{{0.0f, h - 1}, {w / 2, 0.0f}, {w - 1, h - 1}}};
        // Every point lies within the corners and the start pixel's bounds.
        highest_ = {std::max(w - 1, w / 2), h - 1};
        // x is drawn before y: the order of the two numbers is part of the picture.
        const std::uint32_t x = running_.next() % bitmap.width;
        start_ = {static_cast<float>(x), static_cast<float>(running_.next() % bitmap.height)};
        base_ = running_;
    }

    const RangedDrawing& ranges() const { return ranges_; }

    // The numbers as they stand after the drawing's last.
    Numbers after() {
        if constexpr (kJumps<Numbers>) {
            move_to(ranges_.points);
        }
        return running_;
    }

  private:
    // Half-way to the corner that `number` picks: every step of every chain, warm-up included,
    // goes through here, so that no build can round one differently from another.
    Point step(Point point, std::uint32_t number) const {
        return middle(point, corners_[number % 3]);
    }

    // The points of a batch are worked out first, then plotted: the stores of their pixels,
    // which may miss the caches, then wait on nothing and overlap. Both coordinates are cut to
    // whole pixels by one instruction; below 2^24, they fit a signed 32-bit number.
    template <bool kShared>
    Point plot_from(Numbers& numbers, Point point, std::uint32_t count) {
        return plotter_.outgrows_cache() ? plot_batches<kShared, true>(numbers, point, count)
                                         : plot_batches<kShared, false>(numbers, point, count);
    }

    // As plot_from; with kPrefetch, a bitmap too large for the caches has each pixel's line
    // asked for as soon as the point is known, a batch ahead of its store.
    template <bool kShared, bool kPrefetch>
    Point plot_batches(Numbers& numbers, Point point, std::uint32_t count) {
        std::array<Pixel, kBatch> pixels;
        each_batch(numbers, count, [&](std::span<const std::uint32_t> batch) {
            // A local, which no pixel's store can be taken to change, unlike the member.
            const Plotter plotter = plotter_;
            for (std::size_t i = 0; i < batch.size(); ++i) {
                pixels[i] =
                    __builtin_convertvector((Coordinates{point.first, point.second}), Pixel);
                if constexpr (kPrefetch) {
                    plotter.prefetch(static_cast<std::uint32_t>(pixels[i][0]),
                                     static_cast<std::uint32_t>(pixels[i][1]));
                }
                point = step(point, batch[i]);
            }
            for (std::size_t i = 0; i < batch.size(); ++i) {
                plotter.plot<kShared>(static_cast<std::uint32_t>(pixels[i][0]),
                                      static_cast<std::uint32_t>(pixels[i][1]));
            }
        });
        return point;
    }

    // Has running_ stand before the number that moves point `index`.
    void move_to(std::uint32_t index) {
        if (running_at_ != index) {
            running_ = base_;
            running_.jump(index);
            running_at_ = index;
        }
    }

    static void draw_handed_over(void* drawing, std::uint32_t range) {
        auto& d = *static_cast<TriangleDrawing*>(drawing);
        const std::uint32_t first = range * d.ranges_.range_points;
        if constexpr (kJumps<Numbers>) {
            d.move_to(first);
        }
        const Point start = range == 0 ? d.start_ : d.ends_[range - 1];
        d.ends_[range] =
            d.template plot_from<false>(d.running_, start, d.ranges_.end(range) - first);
        d.running_at_ = d.ranges_.end(range);
    }

    // Two chains, from the lowest and the highest corner of the box that holds every point,
    // enclose the true one in each coordinate, since each rounded step keeps order; once they
    // meet, it is known.
    static bool draw_warmed([[maybe_unused]] void* drawing, [[maybe_unused]] std::uint32_t range) {
        if constexpr (kJumps<Numbers>) {
            auto& d = *static_cast<TriangleDrawing*>(drawing);
            const std::uint32_t first = range * d.ranges_.range_points;
            const std::uint32_t from = first - std::min(first, d.warm_up_);
            Point low = from == 0 ? d.start_ : Point{0.0f, 0.0f};
            Point high = from == 0 ? d.start_ : d.highest_;
            Numbers numbers = d.base_;
            numbers.jump(from);
            each_batch(numbers, first - from, [&](std::span<const std::uint32_t> batch) {
                for (const std::uint32_t number : batch) {
                    low = d.step(low, number);
                    high = d.step(high, number);
                }
            });
            if (low != high) {
                return false;
            }
            d.ends_[range] = d.template plot_from<true>(numbers, low, d.ranges_.end(range) - first);
            return true;
        } else {
            return false;
        }
    }

    Numbers running_;
    Numbers base_;                  // before the number that moves point 0
    std::uint32_t running_at_ = 0;  // the point whose number running_ stands before
    Plotter plotter_;
    std::uint32_t warm_up_;
    RangedDrawing ranges_;
    std::vector<Point> ends_;  // the point after each range
    std::array<Point, 3> corners_;
    Point highest_;
    Point start_;
};

}  // namespace

void seed_triangle(unsigned seed) {
    g_numbers_are_rand = numbers_are_rand();
    // Both seeded, so that whichever path draws gives the numbers rand() would.
    std::srand(seed);
    g_triangle_numbers = TriangleNumbers(seed);
}

template <class Numbers>
void draw_triangle_with(Numbers& numbers, CBitmap& bitmap, std::uint32_t iterations,
                        PlotProgress progress, const DrawingPlan& plan) {
    TriangleDrawing<Numbers> drawing(numbers, bitmap, iterations, plan);
    const unsigned threads = plan.threads != 0 ? plan.threads : drawing_threads(iterations);
    draw_ranges(drawing.ranges(), kJumps<Numbers> ? threads : 1, progress);
    numbers = drawing.after();
}

template void draw_triangle_with(LibraryNumbers&, CBitmap&, std::uint32_t, PlotProgress,
                                 const DrawingPlan&);
#ifdef __GLIBC__
template void draw_triangle_with(GlibcNumbers&, CBitmap&, std::uint32_t, PlotProgress,
                                 const DrawingPlan&);
#endif

void draw_triangle(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress,
                   const DrawingPlan& plan) {
    if (g_numbers_are_rand) {
        draw_triangle_with(g_triangle_numbers, bitmap, iterations, progress, plan);
    } else {
        LibraryNumbers rand_itself;
        draw_triangle_with(rand_itself, bitmap, iterations, progress, plan);
    }
}

std::uint64_t drawing_footprint(std::uint32_t iterations) {
    const DrawingPlan plan;
    const std::uint64_t ranges = (iterations + (plan.range_points - 1ull)) / plan.range_points;
    return ranges * kRangeBytes + threads_footprint(drawing_threads(iterations) - 1);
}
