#include "fractals/fractals.hpp"
#include "fractals/ranges.hpp"
#include "fractals/triangle_numbers.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <set>
#include <tuple>
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
// Each call starts its generator afresh; on threads of a point each, the last two start from
// a warm-up.
TEST(Fern, SetsKnownPixels) {
    CBitmap one(1000, 1000, false), three(1000, 1000, false);
    draw_fern(one, 1);
    draw_fern(three, 3, nullptr, {3, 1, 1});
    EXPECT_EQ(set_pixels(one), (Pixels{{513, 165}}));
    EXPECT_EQ(set_pixels(three), (Pixels{{513, 165}, {519, 273}, {589, 106}}));
}

#ifdef __GLIBC__
// The fast path draws rand()'s numbers after srand(), and jumps ahead in them: for seeds at the
// ends of the range (0 counts as 1; from 2^31 on, the first word is negative) and scattered
// between, past the 310 numbers thrown away at seeding and the 31 words of the state.
TEST(GlibcNumbers, AreThoseOfRandAfterSrand) {
    constexpr unsigned kEnds[] = {0, 1, 2, 2147483647, 2147483648, 4294967295};
    for (unsigned k = 0; k < 70; ++k) {
        const unsigned seed = k < std::size(kEnds) ? kEnds[k] : k * 2654435761u;
        std::srand(seed);
        GlibcNumbers numbers(seed);
        for (int i = 0; i < 1000; ++i) {
            ASSERT_EQ(numbers.next(), static_cast<std::uint32_t>(std::rand())) << seed << ", " << i;
        }
        // And after a jump ahead, of as many numbers as the test seed's order.
        numbers.jump(k * 977);
        for (unsigned i = 0; i < k * 977; ++i) {
            std::rand();
        }
        ASSERT_EQ(numbers.next(), static_cast<std::uint32_t>(std::rand())) << seed << " jumped";
    }
}
#endif

// The chaos game worked out independently, in double precision, which is exact on these small
// images for a dozen jumps: the start point from the first two numbers of rand(), x first, then
// corners bottom-left, middle of the top edge (a real half: 3.5 for a width of 7) and
// bottom-right, picked by the number % 3 in that order. Drawn through each path, each seeded
// afresh once rand() has been drawn from, the sizes in turn: each drawing takes 2 + n numbers,
// and the next goes on from there. The fast path shares its points among up to 4 threads.
TEST(Triangle, JumpsHalfWayToTheCornersInOrder) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        const std::tuple<std::uint32_t, std::uint32_t, std::uint32_t> drawings[] = {
            {7, 5, seed % 13}, {2, 8, seed % 4}, {16, 9, 12 - seed % 13}};  // w, h, n
        seed_triangle(seed);                                                // srand(seed) too
        std::vector<std::uint32_t> r(40);
        std::generate(r.begin(), r.end(), std::rand);
        for (const bool fast : {false, true}) {
            LibraryNumbers plain(seed);
            if (fast) {
                seed_triangle(seed);
            }
            auto next = r.begin();
            for (const auto& [w, h, n] : drawings) {
                const double corners[3][2] = {{0, h - 1.0}, {w / 2.0, 0}, {w - 1.0, h - 1.0}};
                double x = *next++ % w, y = *next++ % h;
                Pixels expected;
                for (std::uint32_t i = 0; i < n; ++i, ++next) {
                    expected.emplace(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
                    x = (x + corners[*next % 3][0]) / 2;
                    y = (y + corners[*next % 3][1]) / 2;
                }
                CBitmap bitmap(w, h, false);
                fast ? draw_triangle(bitmap, n, nullptr, {seed % 4 + 1, seed % 3, 1 + seed % 4})
                     : draw_triangle_with(plain, bitmap, n);
                EXPECT_EQ(set_pixels(bitmap), expected) << "seed " << seed << ", fast " << fast;
            }
        }
    }
}

// The tightest CPU quota along the cgroup's path, rounded up; data/cpu's README says why.
TEST(CpuQuota, TightestAlongThePathRoundedUp) {
    const std::string data = FRACTXBM_TEST_DATA "/cpu/";
    for (const auto& [cgroup, cpus] : {std::pair{"cgroup_v1", 3u}, {"cgroup_v2", 2u}, {"", 0u}}) {
        EXPECT_EQ(cpu_quota({data + cgroup, data + "v2", data + "v1"}), cpus) << cgroup;
    }
}

std::vector<std::uint32_t> g_heard;

// A long drawing tells its progress between chunks of 2^20 points and at its end, on one thread;
// the triangle still draws exactly 2 + n numbers, on any number of threads: the next drawing,
// one point on a row of 2^20 pixels, starts from the number after them.
TEST(Progress, HeardBetweenChunksAndAtTheEnd) {
    constexpr std::uint32_t n = (1u << 21) + 5;
    std::srand(7);
    for (std::uint32_t i = 0; i < n + 2; ++i) {
        std::rand();
    }
    const auto after_triangle = static_cast<std::uint32_t>(std::rand());
    for (const unsigned threads : {1u, 3u}) {
        for (const auto draw : {draw_fern, draw_triangle}) {
            g_heard.clear();
            seed_triangle(7);
            CBitmap bitmap(64, 64, false);
            draw(bitmap, n, [](std::uint32_t plotted) { g_heard.push_back(plotted); }, {threads});
            EXPECT_TRUE(std::is_sorted(g_heard.begin(), g_heard.end()) && g_heard.back() == n);
            if (threads == 1) {
                EXPECT_EQ(g_heard, (std::vector<std::uint32_t>{1u << 20, 1u << 21, n}));
            }
        }
        CBitmap wide(1u << 20, 1, false);
        draw_triangle(wide, 1);
        EXPECT_EQ(set_pixels(wide), (Pixels{{after_triangle % (1u << 20), 0}}));
    }
}

// Any number of threads draws the bytes of one, and leaves the triangle's numbers where one
// leaves them: with ranges of a few points, many more than the threads, and warm-ups too short
// for every start to meet (0 steps: none does), so that ranges are also handed over.
struct SharedCase {
    std::uint32_t width, height, points, range_points;
};
class SameBytes : public testing::TestWithParam<SharedCase> {};

TEST_P(SameBytes, OnEveryThreadCount) {
    const auto [w, h, points, range_points] = GetParam();
    for (const bool fern : {false, true}) {
        CBitmap alone(w, h, false);
        GlibcNumbers numbers_alone(points);
        fern ? draw_fern(alone, points, nullptr, {1})
             : draw_triangle_with(numbers_alone, alone, points, nullptr, {1});
        for (unsigned threads = 2; threads <= 16; ++threads) {
            const DrawingPlan plan{threads, (threads % 4) * (threads % 4) * 7, range_points};
            CBitmap shared(w, h, false);
            GlibcNumbers numbers(points);
            fern ? draw_fern(shared, points, nullptr, plan)
                 : draw_triangle_with(numbers, shared, points, nullptr, plan);
            ASSERT_TRUE(shared.bits.rows == alone.bits.rows) << fern << " " << threads;
            ASSERT_EQ(numbers.next(), GlibcNumbers(numbers_alone).next());
        }
    }
}
INSTANTIATE_TEST_SUITE_P(Fractals, SameBytes,
                         testing::Values(SharedCase{1, 1, 0, 1}, SharedCase{1, 1, 1, 1},
                                         SharedCase{3, 2, 2, 1}, SharedCase{7, 5, 13, 2},
                                         SharedCase{1, 1000, 1009, 7}, SharedCase{999, 3, 4099, 64},
                                         SharedCase{257, 129, 100003, 4093}));

}  // namespace
