// Bitmaps of arbitrary size and pixels: their XBM text, read back under the format's strict rules,
// gives the same size and the same bytes, spare bits included.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bitmap/bitmap.hpp"

namespace {

struct Parsed {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::vector<std::uint8_t>> rows;
};

// The size and bytes of `text` if it is exactly an XBM file as this program writes it: the two
// #define lines, the array, one line per row of "0xHH" bytes in capitals separated by ", ", the
// last row ending " \n" instead of ",\n", then "};". Nothing otherwise.
std::optional<Parsed> parse(std::string_view text) {
    std::size_t at = 0;
    const auto take = [&](std::string_view expected) {
        const bool found = text.substr(at, expected.size()) == expected;
        at += found ? expected.size() : 0;
        return found;
    };
    const auto number = [&](std::uint32_t& value) {  // no sign, no leading zero
        const char* begin = text.data() + at;
        const auto [end, error] = std::from_chars(begin, text.data() + text.size(), value);
        at += static_cast<std::size_t>(end - begin);
        return error == std::errc{} && *begin != '0';
    };
    const auto byte = [&](std::uint8_t& value) {
        constexpr std::string_view kDigits = "0123456789ABCDEF";
        if (!take("0x") || text.size() - at < 2) {
            return false;
        }
        const std::size_t high = kDigits.find(text[at]), low = kDigits.find(text[at + 1]);
        at += 2;
        value = static_cast<std::uint8_t>(high * 16 + low);
        return high != std::string_view::npos && low != std::string_view::npos;
    };
    Parsed p;
    if (!take("#define im_width ") || !number(p.width) || !take("\n#define im_height ") ||
        !number(p.height) || !take("\nstatic char im_bits[] = {\n")) {
        return std::nullopt;
    }
    const std::uint64_t row_bytes = bytes_per_row(p.width);
    p.rows.resize(p.height, std::vector<std::uint8_t>(row_bytes));
    for (std::uint32_t y = 0; y < p.height; ++y) {
        for (std::uint64_t k = 0; k < row_bytes; ++k) {
            const std::string_view after =
                k + 1 < row_bytes ? ", " : (y + 1 < p.height ? ",\n" : " \n");
            if (!byte(p.rows[y][k]) || !take(after)) {
                return std::nullopt;
            }
        }
    }
    if (!take("};") || at != text.size()) {
        return std::nullopt;
    }
    return p;
}

void require(bool condition, const char* property, const CBitmap& bitmap) {
    if (!condition) {
        std::fprintf(stderr, "broken: %s for %u x %u\n", property, bitmap.width, bitmap.height);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Two bytes of width (1 to 1024), one of height (1 to 64), one whose low bit fills the
    // bitmap first; every following bit flips one pixel, row by row, while there are bits.
    if (size < 4) {
        return 0;
    }
    const auto width = static_cast<std::uint32_t>(((data[0] << 8) | data[1]) % 1024 + 1);
    const auto height = static_cast<std::uint32_t>(data[2] % 64 + 1);
    CBitmap bitmap(width, height, (data[3] & 1) != 0);
    const std::size_t bits = (size - 4) * 8;
    for (std::size_t i = 0; i < bits && i < std::size_t{width} * height; ++i) {
        if ((data[4 + i / 8] >> (i % 8)) & 1) {
            bitmap.change_pixel(static_cast<std::uint32_t>(i % width),
                                static_cast<std::uint32_t>(i / width));
        }
    }
    const std::string text = bitmap.tostr();
    require(text.size() == xbm_text_length(width, height), "length unlike xbm_text_length", bitmap);
    const std::optional<Parsed> parsed = parse(text);
    require(parsed.has_value(), "text out of format", bitmap);
    require(parsed->width == width && parsed->height == height, "size read back differs", bitmap);
    require(parsed->rows == bitmap.bits.rows, "bytes read back differ", bitmap);
    return 0;
}
