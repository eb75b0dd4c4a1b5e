#include "fractals/fractals.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <utility>
#include <vector>

namespace {

using Pixels = std::set<std::pair<std::uint32_t, std::uint32_t>>;

// Every set bit as (column, row), spare bits past the width included.
Pixels set_pixels(const CBitmap& bitmap) {
    Pixels pixels;
    for (std::uint32_t y = 0; y < bitmap.bits.rows.size(); ++y) {
        for (std::uint32_t x = 0; x < bitmap.bits.rows[y].size() * 8; ++x) {
            if (bitmap.bits.get_bit(x, y)) {
                pixels.emplace(x, y);
            }
        }
    }
    return pixels;
}

// The first step maps the start point with the first map, the next two apply the first and the
// third: every rounding of the generator, the uniform value and the maps shows in these pixels.
// Each call starts its generator afresh.
TEST(Fern, SetsKnownPixels) {
    CBitmap one(1000, 1000, false), three(1000, 1000, false);
    draw_fern(one, 1);
    draw_fern(three, 3);
    EXPECT_EQ(set_pixels(one), (Pixels{{513, 165}}));
    EXPECT_EQ(set_pixels(three), (Pixels{{513, 165}, {519, 273}, {589, 106}}));
}

// The chaos game worked out independently, in double precision, which is exact on these small
// images for a dozen jumps: the start point from the first two numbers of rand(), x first, then
// corners bottom-left, middle of the top edge (a real half: 3.5 for a width of 7) and
// bottom-right, picked by rand() % 3 in that order; 2 + n numbers drawn in all.
TEST(Triangle, JumpsHalfWayToTheCornersInOrder) {
    for (const auto& [w, h] : {std::pair{7u, 5u}, std::pair{2u, 8u}, std::pair{16u, 9u}}) {
        for (unsigned seed = 1; seed <= 20; ++seed) {
            const std::uint32_t n = seed % 13;
            std::srand(seed);
            std::vector<int> r(n + 3);
            std::generate(r.begin(), r.end(), std::rand);
            const double corners[3][2] = {{0, h - 1.0}, {w / 2.0, 0}, {w - 1.0, h - 1.0}};
            double x = static_cast<unsigned>(r[0]) % w, y = static_cast<unsigned>(r[1]) % h;
            Pixels expected;
            for (std::uint32_t i = 0; i < n; ++i) {
                expected.emplace(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
                x = (x + corners[r[i + 2] % 3][0]) / 2;
                y = (y + corners[r[i + 2] % 3][1]) / 2;
            }
            std::srand(seed);
            CBitmap bitmap(w, h, false);
            draw_triangle(bitmap, n);
            EXPECT_EQ(set_pixels(bitmap), expected) << w << " x " << h << ", seed " << seed;
            EXPECT_EQ(std::rand(), r[n + 2]) << n << " iterations draw 2 + n numbers";
        }
    }
}

std::vector<std::uint32_t> g_heard;

// A long drawing tells its progress between chunks of 2^20 points and at its end; the triangle
// still draws exactly 2 + n numbers from rand() across the chunks.
TEST(Progress, HeardBetweenChunksAndAtTheEnd) {
    constexpr std::uint32_t n = (1u << 21) + 5;
    std::srand(7);
    for (std::uint32_t i = 0; i < n + 2; ++i) {
        std::rand();
    }
    const int after_triangle = std::rand();
    for (const auto draw : {draw_triangle, draw_fern}) {
        g_heard.clear();
        std::srand(7);
        CBitmap bitmap(64, 64, false);
        draw(bitmap, n, [](std::uint32_t plotted) { g_heard.push_back(plotted); });
        EXPECT_EQ(g_heard, (std::vector<std::uint32_t>{1u << 20, 1u << 21, n}));
        EXPECT_TRUE(draw == draw_fern || std::rand() == after_triangle);
    }
}

}  // namespace
