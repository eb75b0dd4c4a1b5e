#include "fractals/fractals.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Pixels = std::set<std::pair<std::uint32_t, std::uint32_t>>;

// Every set pixel as (column, row).
Pixels set_pixels(const CBitmap& bitmap) {
    Pixels pixels;
    for (std::uint32_t y = 0; y < bitmap.height; ++y) {
        const auto& row = bitmap.bits.rows[y];
        for (std::size_t k = 0; k < row.size(); ++k) {
            for (std::uint32_t bit = 0; row[k] != 0 && bit < 8; ++bit) {
                if ((row[k] >> bit) & 1) {
                    pixels.emplace(static_cast<std::uint32_t>(k * 8 + bit), y);
                }
            }
        }
    }
    return pixels;
}

std::vector<int> rand_sequence(unsigned seed, std::size_t count) {
    std::srand(seed);
    std::vector<int> values(count);
    for (int& value : values) {
        value = std::rand();
    }
    return values;
}

TEST(Middle, HalvesEachCoordinateInSinglePrecision) {
    EXPECT_EQ(middle({0.0f, 999.0f}, {500.0f, 0.0f}), std::make_pair(250.0f, 499.5f));
    // 2^24 + 1 is not a float: the sum rounds before it is halved.
    EXPECT_EQ(middle({16777215.0f, 3.5f}, {16777215.0f, 3.5f}), std::make_pair(16777215.0f, 3.5f));
    EXPECT_EQ(middle({16777214.0f, 0.0f}, {16777215.0f, 0.0f}).first, 16777214.0f);
}

// The first step maps the start point with the first map, the next two apply the first and the
// third: every rounding of the generator, the uniform value and the maps shows in these pixels.
TEST(Fern, FirstStepsSetKnownPixels) {
    CBitmap one(1000, 1000, false);
    draw_fern(one, 1);
    EXPECT_EQ(set_pixels(one), (Pixels{{513, 165}}));
    CBitmap three(1000, 1000, false);
    draw_fern(three, 3);
    EXPECT_EQ(set_pixels(three), (Pixels{{513, 165}, {519, 273}, {589, 106}}));
}

TEST(Fern, DefaultRunSetsKnownPixelsWithinKnownBounds) {
    CBitmap bitmap(1000, 1000, false);
    draw_fern(bitmap, 100000);
    const Pixels pixels = set_pixels(bitmap);
    EXPECT_EQ(pixels.size(), 50940u);
    std::uint32_t min_x = 1000, max_x = 0, min_y = 1000, max_y = 0;
    for (const auto& [x, y] : pixels) {
        min_x = std::min(min_x, x);
        max_x = std::max(max_x, x);
        min_y = std::min(min_y, y);
        max_y = std::max(max_y, y);
    }
    EXPECT_EQ(std::make_tuple(min_x, max_x, min_y, max_y), std::make_tuple(281u, 765u, 4u, 833u));
}

TEST(Fern, SameArgumentsGiveTheSamePicture) {
    CBitmap first(300, 200, false);
    CBitmap second(300, 200, false);
    draw_fern(first, 20000);
    draw_fern(second, 20000);
    EXPECT_EQ(first.bits.rows, second.bits.rows);
}

// Small and odd sizes, where a point one past the edge would land in a spare bit or another row.
class StaysInside : public testing::TestWithParam<std::tuple<std::uint32_t, std::uint32_t>> {};

TEST_P(StaysInside, NoSpareBitIsEverSet) {
    const auto [width, height] = GetParam();
    for (const bool fern : {false, true}) {
        std::srand(7);
        CBitmap bitmap(width, height, false);
        fern ? draw_fern(bitmap, 30000) : draw_triangle(bitmap, 30000);
        std::size_t count = 0;
        for (const auto& [x, y] : set_pixels(bitmap)) {
            EXPECT_LT(x, width) << (fern ? "fern " : "triangle ") << width << " x " << height;
            EXPECT_LT(y, height) << (fern ? "fern " : "triangle ") << width << " x " << height;
            ++count;
        }
        EXPECT_GT(count, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, StaysInside,
                         testing::Values(std::make_tuple(1u, 1u), std::make_tuple(1u, 9u),
                                         std::make_tuple(7u, 7u), std::make_tuple(13u, 2u),
                                         std::make_tuple(1000u, 1000u),
                                         std::make_tuple(16777215u, 3u),
                                         std::make_tuple(16777216u, 2u),
                                         std::make_tuple(5u, 100003u)));

// The chaos game worked out independently, in double precision, which is exact on these small
// images for a dozen jumps: the start point from the first two numbers of rand(), x first, then
// corners bottom-left, middle of the top edge (a real half: 3.5 for a width of 7) and
// bottom-right, picked by rand() % 3 in that order.
TEST(Triangle, JumpsHalfWayToTheCornersInOrder) {
    for (const auto& [w, h] : {std::pair{7u, 5u}, std::pair{2u, 8u}, std::pair{16u, 9u}}) {
        for (unsigned seed = 1; seed <= 20; ++seed) {
            const std::vector<int> r = rand_sequence(seed, 14);
            const double corners[3][2] = {{0, h - 1.0}, {w / 2.0, 0}, {w - 1.0, h - 1.0}};
            double x = static_cast<unsigned>(r[0]) % w, y = static_cast<unsigned>(r[1]) % h;
            Pixels expected;
            for (int i = 0; i < 12; ++i) {
                expected.emplace(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
                const double* corner = corners[r[i + 2] % 3];
                x = (x + corner[0]) / 2;
                y = (y + corner[1]) / 2;
            }
            std::srand(seed);
            CBitmap bitmap(w, h, false);
            draw_triangle(bitmap, 12);
            EXPECT_EQ(set_pixels(bitmap), expected) << w << " x " << h << ", seed " << seed;
        }
    }
}

TEST(Triangle, DrawsTwoPlusIterationsRandomNumbers) {
    for (const std::uint32_t iterations : {0u, 1u, 2u, 1000u}) {
        const std::vector<int> r = rand_sequence(99, iterations + 3);
        std::srand(99);
        CBitmap bitmap(50, 40, false);
        draw_triangle(bitmap, iterations);
        EXPECT_EQ(std::rand(), r[iterations + 2]) << iterations << " iterations";
    }
}

TEST(Triangle, ZeroIterationsLeaveEitherPictureClear) {
    CBitmap bitmap(33, 17, false);
    draw_triangle(bitmap, 0);
    draw_fern(bitmap, 0);
    EXPECT_TRUE(set_pixels(bitmap).empty());
}

}  // namespace
