// A drawing's points cut into ranges that threads draw side by side, each range starting from
// the very point that one thread drawing them all would have reached there.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fractals.hpp"
#include "system/processors.hpp"

// Points 0 to points - 1, cut into ranges of range_points (the last may be shorter), and how to
// draw one range.
struct RangedDrawing {
    std::uint32_t points;
    std::uint32_t range_points;
    // Draws range `index` from its start point, found by a warm-up, with pixels that other
    // threads set beside it. False, when the warm-up has not found that point: nothing is drawn.
    bool (*draw_warmed)(void* drawing, std::uint32_t index);
    // Draws range `index` from the point that the range before it ended on (the start point for
    // the first), alone.
    void (*draw_handed_over)(void* drawing, std::uint32_t index);
    void* drawing;

    std::uint32_t count() const {
        return static_cast<std::uint32_t>((points + (range_points - 1ull)) / range_points);
    }
    // The point after the last of range `index`.
    std::uint32_t end(std::uint32_t index) const {
        return static_cast<std::uint32_t>(
            std::min<std::uint64_t>(std::uint64_t{index + 1} * range_points, points));
    }
};

// What a range holds for the one after it: the point it ends on (two coordinates of at most a
// double) and whether its warm-up found its start.
inline constexpr std::size_t kRangeBytes = 2 * sizeof(double) + 1;

// Sets pixels of a bitmap, alone or beside other threads that set pixels of the same bitmap.
// Where the rows lie end to end, as the program allocates them, a pixel's byte is found from one
// base and a stride, which spares every point a load of its row's address.
class Plotter {
  public:
    explicit Plotter(CBitmap& bitmap) : bitmap_(bitmap) {
        auto& rows = bitmap.bits.rows;
        stride_ = rows.size() > 1 ? static_cast<std::size_t>(rows[1].data() - rows[0].data()) : 0;
        bool flat = !rows.empty();
        for (std::size_t y = 0; flat && y < rows.size(); ++y) {
            flat = rows[y].data() == rows[0].data() + y * stride_;
        }
        base_ = flat ? rows[0].data() : nullptr;
    }

    template <bool kShared>
    void plot(std::uint32_t x, std::uint32_t y) const {
        if (base_ == nullptr) {
            kShared ? bitmap_.set_pixel_shared(x, y) : bitmap_.set_pixel(x, y);
            return;
        }
        std::uint8_t& byte = base_[y * stride_ + (x >> 3)];
        const auto bit = static_cast<std::uint8_t>(1u << (x & 7));
        if constexpr (kShared) {
            // The bit tested first: a locked operation on every point would cost half again.
            const std::atomic_ref<std::uint8_t> shared(byte);
            if ((shared.load(std::memory_order_relaxed) & bit) == 0) {
                shared.fetch_or(bit, std::memory_order_relaxed);
            }
        } else {
            byte |= bit;
        }
    }

    // Whether the bitmap lies end to end and outgrows a core's own caches (a megabyte, about
    // the second level's on today's processors), so that asking for a pixel's line ahead of its
    // store pays for itself.
    bool outgrows_cache() const {
        return base_ != nullptr && stride_ * bitmap_.bits.rows.size() > (std::size_t{1} << 20);
    }

    // Asks for the cache line of pixel (x, y) ahead of its store; for a bitmap that lies end
    // to end only.
    void prefetch(std::uint32_t x, std::uint32_t y) const {
        __builtin_prefetch(base_ + y * stride_ + (x >> 3), 1);
    }

  private:
    CBitmap& bitmap_;
    std::uint8_t* base_ = nullptr;
    std::size_t stride_ = 0;
};

// Draws every range. On one thread, in order, each handed over from the one before. On more,
// the calling thread and threads - 1 others (as many as can start) take the ranges in turn,
// each warmed; then the calling thread draws, in order, those whose warm-up failed. Progress is
// told from the calling thread only, after each of its ranges and once at the end.
void draw_ranges(const RangedDrawing& drawing, unsigned threads, PlotProgress progress);

// The threads that a drawing of `points` points is shared among: as many as pay for
// themselves, at most the processors of the run's affinity and its control groups' CPU quotas
// (rounded up). One, reading no file, for a drawing too small to share.
unsigned drawing_threads(std::uint32_t points, const CpuSources& sources = {});

// The memory that `threads` threads of a drawing hold beyond the calling one: their stacks.
std::uint64_t threads_footprint(unsigned threads);
