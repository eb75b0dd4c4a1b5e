// The two pictures: a Sierpinski triangle by the chaos game and a fern by four affine maps.
#pragma once

#include <cstdint>
#include <utility>

#include "bitmap/bitmap.hpp"

// The midpoint of two points (x, y) in pixel units, each coordinate rounded to single precision.
std::pair<float, float> middle(std::pair<float, float> a, std::pair<float, float> b);

// Told how many points a drawing has plotted so far, between chunks of about a million points
// and once at its end, so that a caller can show how far a long drawing has got.
using PlotProgress = void (*)(std::uint32_t plotted);

// Seeds the process-wide generator, srand(seed), and the triangle's numbers alike: from then on
// draw_triangle draws the numbers that rand() would give. Unseeded, they are those of seed 1.
void seed_triangle(unsigned seed);

// Plots `iterations` points of the chaos game: start at a random pixel, then jump half-way to a
// random corner of the triangle (bottom-left, top-middle, bottom-right) each step. Draws the
// next 2 + iterations of the triangle's numbers, those that rand() gives after the seed given
// to seed_triangle, whichever path draws them. Every point lands inside the bitmap as long as
// neither side exceeds 2^24, where single precision stops holding integers.
void draw_triangle(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress = nullptr);

// draw_triangle with its numbers from `numbers`, one of the kinds of triangle_numbers.hpp,
// which it moves on by 2 + iterations.
template <class Numbers>
void draw_triangle_with(Numbers& numbers, CBitmap& bitmap, std::uint32_t iterations,
                        PlotProgress progress = nullptr);

// Plots `iterations` points of the Barnsley fern, base at the top edge, growing downward. Its
// random stream is private and starts from the same seed on every call, so the same size and
// count always give the same picture. Every point lands inside any bitmap of at least 1 x 1.
void draw_fern(CBitmap& bitmap, std::uint32_t iterations, PlotProgress progress = nullptr);
