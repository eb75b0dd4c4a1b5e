#include "bitmap/bitmap.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>

namespace {

TEST(XbmText, WorkedExampleToTheByte) {
    CBitmap bitmap(10, 2, false);
    bitmap.set_pixel(0, 0);
    bitmap.set_pixel(9, 1);
    EXPECT_EQ(bitmap.tostr(),
              "#define im_width 10\n"
              "#define im_height 2\n"
              "static char im_bits[] = {\n"
              "0x01, 0x00,\n"
              "0x00, 0x02 \n"
              "};");
}

TEST(XbmText, OneRowEndsWithSpaceAndNoFinalLineFeed) {
    EXPECT_EQ(CBitmap(8, 1, false).tostr(),
              "#define im_width 8\n#define im_height 1\nstatic char im_bits[] = {\n0x00 \n};");
}

TEST(XbmText, FilledBitmapWritesSpareBitsToo) {
    const std::string text = CBitmap(10, 3, true).tostr();
    EXPECT_NE(text.find("{\n0xFF, 0xFF,\n0xFF, 0xFF,\n0xFF, 0xFF \n};"), std::string::npos) << text;
}

// Width, bytes per row: every row must hold the whole width and not a byte more.
class RowLength : public testing::TestWithParam<std::tuple<std::uint32_t, std::size_t>> {};

TEST_P(RowLength, RowsHoldWidthRoundedUpToBytes) {
    const auto [width, bytes] = GetParam();
    const CBitmap bitmap(width, 3, false);
    ASSERT_EQ(bitmap.bits.rows.size(), 3u);
    for (const auto& row : bitmap.bits.rows) {
        EXPECT_EQ(row.size(), bytes) << "width " << width;
    }
    const std::string text = bitmap.tostr();
    EXPECT_EQ(text.size(), xbm_text_length(width, 3)) << "width " << width;
    EXPECT_EQ(text.size(), 65 + std::to_string(width).size() + 1 + 6 * bytes * 3);
}

INSTANTIATE_TEST_SUITE_P(Widths, RowLength,
                         testing::Values(std::make_tuple(1u, 1u), std::make_tuple(7u, 1u),
                                         std::make_tuple(8u, 1u), std::make_tuple(9u, 2u),
                                         std::make_tuple(16u, 2u), std::make_tuple(17u, 3u),
                                         std::make_tuple(1000u, 125u)));

TEST(XbmText, EveryByteValueIsEncodedInCapitalHex) {
    CBitmap bitmap(256 * 8, 1, false);
    for (std::uint32_t x = 0; x < bitmap.width; ++x) {
        if ((x >> 3) & (1u << (x & 7))) {  // byte k gets value k
            bitmap.set_pixel(x, 0);
        }
    }
    const std::string text = bitmap.tostr();
    std::string expected = "{\n";
    for (int value = 0; value < 256; ++value) {
        char hex[5];
        std::snprintf(hex, sizeof hex, "0x%02X", value);
        expected += hex + std::string(value < 255 ? ", " : " \n");
    }
    EXPECT_NE(text.find(expected + "};"), std::string::npos);
    EXPECT_EQ(char_to_hex(10) + char_to_hex(0x9f) + char_to_hex(255), "0x0A0x9F0xFF");
}

// x, byte index within the row, bit mask: the leftmost pixel of each group of eight is bit 0.
class BitOrder : public testing::TestWithParam<std::tuple<std::uint32_t, std::size_t, int>> {};

TEST_P(BitOrder, PixelLandsInItsByteAndBitOnly) {
    const auto [x, byte, mask] = GetParam();
    CBitmap bitmap(24, 2, false);
    bitmap.set_pixel(x, 1);
    for (std::size_t row = 0; row < 2; ++row) {
        for (std::size_t k = 0; k < 3; ++k) {
            const int expected = (row == 1 && k == byte) ? mask : 0;
            EXPECT_EQ(bitmap.bits.rows[row][k], expected)
                << "x " << x << " row " << row << " byte " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Columns, BitOrder,
    testing::Values(std::make_tuple(0u, 0u, 0x01), std::make_tuple(1u, 0u, 0x02),
                    std::make_tuple(7u, 0u, 0x80), std::make_tuple(8u, 1u, 0x01),
                    std::make_tuple(13u, 1u, 0x20), std::make_tuple(23u, 2u, 0x80)));

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
            const bool after_change = bitmap.get_pixel(x, 0);
            EXPECT_EQ(std::make_tuple(after_set, after_resets, after_change),
                      std::make_tuple(true, false, true))
                << "fill " << fill << " x " << x;
            const int others = fill ? 0xFF : 0;
            const int own = 1 << (x % 8);
            EXPECT_EQ(bitmap.bits.rows[0][x / 8], others | own) << "fill " << fill << " x " << x;
            EXPECT_EQ(bitmap.bits.rows[0][1 - x / 8], others) << "fill " << fill << " x " << x;
        }
    }
}

}  // namespace
