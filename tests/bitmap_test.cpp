#include "bitmap/bitmap.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "fractals/fractals.hpp"

namespace {

TEST(XbmText, WorkedExampleAndFilledRows) {
    CBitmap bitmap(10, 2, false);
    bitmap.set_pixel(0, 0);
    bitmap.set_pixel(9, 1);
    std::ostringstream expected;
    expected << std::ifstream(FRACTXBM_TEST_DATA "/ten_by_two.xbm").rdbuf();
    EXPECT_EQ(bitmap.tostr(), expected.str());
    const std::string filled = CBitmap(10, 3, true).tostr();
    EXPECT_TRUE(filled.ends_with("{\n0xFF, 0xFF,\n0xFF, 0xFF,\n0xFF, 0xFF \n};")) << filled;
}

TEST(XbmText, EveryByteValueInCapitalHex) {
    CBitmap bitmap(256 * 8, 1, false);
    for (std::uint32_t x = 0; x < bitmap.width; ++x) {
        if ((x >> 3) & (1u << (x & 7))) {  // byte k gets value k
            bitmap.set_pixel(x, 0);
        }
    }
    std::string expected = "{\n";
    for (int value = 0; value < 256; ++value) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "0x%02X", value);
        expected += hex + std::string(value < 255 ? ", " : " \n};");
    }
    EXPECT_TRUE(bitmap.tostr().ends_with(expected));
    EXPECT_EQ(char_to_hex(10) + char_to_hex(0x9f), "0x0A0x9F");
}

// Rows of every length modulo 8, around the encoder's eight-byte shortcut, streamed through
// blocks from the smallest up: the same text as tostr(), of the length the format gives.
TEST(XbmText, StreamedThroughAnyBlockLikeTostr) {
    for (const std::uint32_t width : {1u, 7u, 8u, 9u, 17u, 64u, 65u, 127u, 1000u}) {
        CBitmap bitmap(width, 5, false);
        draw_fern(bitmap, 300);
        const std::string text = bitmap.tostr();
        EXPECT_EQ(text.size(), 65 + std::to_string(width).size() + 1 + 6 * ((width + 7) / 8) * 5);
        EXPECT_EQ(text.size(), xbm_text_length(width, 5)) << width;
        for (const std::size_t size : {kMinXbmBlock, std::size_t{100}, std::size_t{4096}}) {
            std::string streamed, block(size, '\0');
            const auto append = [](void* to, const char* data, std::size_t n) {
                static_cast<std::string*>(to)->append(data, n);
                return true;
            };
            EXPECT_TRUE(write_xbm(bitmap, block, append, &streamed));
            EXPECT_EQ(streamed, text) << "width " << width << ", block " << size;
        }
    }
}

// Each operation, on a clear and on a filled row, changes its own bit as named and no other.
TEST(PixelOperations, EachTouchesOnlyItsOwnBit) {
    for (const bool fill : {false, true}) {
        for (std::uint32_t x = 0; x < 11; ++x) {
            CBitmap bitmap(11, 1, fill);
            bitmap.set_pixel(x, 0);
            const bool after_set = bitmap.get_pixel(x, 0);
            bitmap.reset_pixel(x, 0);
            bitmap.reset_pixel(x, 0);
            const bool after_resets = bitmap.get_pixel(x, 0);
            bitmap.change_pixel(x, 0);
            EXPECT_EQ(std::make_tuple(after_set, after_resets, bitmap.get_pixel(x, 0)),
                      std::make_tuple(true, false, true))
                << "fill " << fill << " x " << x;
            const int others = fill ? 0xFF : 0;
            EXPECT_EQ(bitmap.bits.rows[0][x / 8], others | (1 << (x % 8))) << fill << " x " << x;
            EXPECT_EQ(bitmap.bits.rows[0][1 - x / 8], others) << "fill " << fill << " x " << x;
        }
    }
}

}  // namespace
