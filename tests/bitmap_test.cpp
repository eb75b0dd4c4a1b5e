#include "bitmap/bitmap.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

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
    EXPECT_EQ(char_to_hex(10) + char_to_hex(0x9f), "0x0A0x9F");
}

// Rows of 1, 2, 3, 8, 9, 17 and 256 bytes, around the encoder's eight-byte shortcut, byte k of row
// y holding k + y: the text has the length the format gives and comes out the same through
// buffers of any size.
TEST(XbmText, LengthAndAnyBuffer) {
    const auto append = [](void* to, const char* data, std::size_t n) {
        return static_cast<std::string*>(to)->append(data, n), true;
    };
    for (const std::uint32_t width : {1u, 7u, 8u, 9u, 17u, 64u, 65u, 136u, 2048u}) {
        CBitmap bitmap(width, 3, false);
        for (std::uint32_t x = 0, y = 0; y < 3; x = (x + 1) % width, y += x == 0) {
            if (((x >> 3) + y) & (1u << (x & 7))) {
                bitmap.set_pixel(x, y);
            }
        }
        const std::string text = bitmap.tostr();
        EXPECT_EQ(text.size(), 65 + std::to_string(width).size() + 1 + 6 * ((width + 7) / 8) * 3);
        EXPECT_EQ(text.size(), xbm_text_length(width, 3)) << width;
        for (const std::size_t size : {kMinXbmBuffer, std::size_t{100}, std::size_t{4096}}) {
            std::string streamed, buffer(size, '\0');
            EXPECT_TRUE(write_xbm(bitmap, buffer, append, &streamed));
            EXPECT_EQ(streamed, text) << "width " << width << ", buffer " << size;
        }
    }
}

// The memory check counts exactly what the rows and their table take, a picture one pixel wide
// too, where the table outweighs the rows.
TEST(BitArray, HoldsExactlyItsFootprint) {
    for (const auto& [w, h] : {std::pair{1u, 100000u}, std::pair{10u, 2u}, std::pair{16385u, 3u}}) {
        EXPECT_EQ(CBitmap(w, h, false).bits.footprint(), bitmap_footprint(w, h)) << w << " x " << h;
    }
}

}  // namespace
