// The two pictures: a Sierpinski triangle by the chaos game and a fern by four affine maps.
#pragma once

#include <cstdint>
#include <utility>

#include "bitmap/bitmap.hpp"

// The midpoint of two points (x, y) in pixel units, each coordinate rounded to single precision.
std::pair<float, float> middle(std::pair<float, float> a, std::pair<float, float> b);

// Told how many points a drawing has plotted so far, between chunks of about a million points
// (on several threads, each time the calling thread ends a range) and once at its end, so that a
// caller can show how far a long drawing has got. Always called on the calling thread.
using PlotProgress = void (*)(std::uint32_t plotted);

// How a drawing shares its points among threads: the program always takes the defaults; the
// tests and the benchmark set others. The picture is the same whatever they are.
struct DrawingPlan {
    // The threads to draw on; 0 for the most that the run may use and that pay for themselves.
    unsigned threads = 0;
    // The steps through which a range of points, drawn on a thread of its own, first follows
    // every point it may start from, until all have met; a range where they have not met by
    // then is drawn after the one before it, from the point that one ends on.
    std::uint32_t warm_up = 1024;
    // Points a thread takes at a time, between two reports of progress.
    std::uint32_t range_points = std::uint32_t{1} << 20;
};

// The memory that a drawing of `iterations` points holds beyond the bitmap: the threads'
// stacks and what the ranges hand over, in the address space as in the machine's memory.
std::uint64_t drawing_footprint(std::uint32_t iterations);

// Seeds the process-wide generator, srand(seed), and the triangle's numbers alike: from then on
// draw_triangle draws the numbers that rand() would give. Unseeded, they are those of seed 1.
void seed_triangle(unsigned seed);

// Plots `iterations` points of the chaos game: start at a random pixel, then jump half-way to a
// random corner of the triangle (bottom-left, top-middle, bottom-right) each step. Draws the
// next 2 + iterations of the triangle's numbers, those that rand() gives after the seed given
// to seed_triangle, whichever path draws them. Every point lands inside the bitmap as long as
// neither side exceeds 2^24, where single precision stops holding integers.
void draw_triangle(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress = nullptr,
                   const DrawingPlan& plan = {});

// draw_triangle with its numbers from `numbers`, one of the kinds of triangle_numbers.hpp,
// which it moves on by 2 + iterations. Only numbers that can jump ahead are drawn on more than
// one thread.
template <class Numbers>
void draw_triangle_with(Numbers& numbers, CBitmap& bitmap, std::uint32_t iterations,
                        PlotProgress progress = nullptr, const DrawingPlan& plan = {});

// Plots `iterations` points of the Barnsley fern, base at the top edge, growing downward. Its
// random stream is private and starts from the same seed on every call, so the same size and
// count always give the same picture. Every point lands inside any bitmap of at least 1 x 1.
void draw_fern(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress = nullptr,
               const DrawingPlan& plan = {});
