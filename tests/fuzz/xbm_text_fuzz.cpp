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

class Reader {
  public:
    explicit Reader(std::string_view text) : rest_(text) {}

    bool take(std::string_view expected) {
        if (rest_.substr(0, expected.size()) != expected) {
            return false;
        }
        rest_.remove_prefix(expected.size());
        return true;
    }

    // A decimal number without sign or leading zero.
    bool number(std::uint32_t& value) {
        if (rest_.empty() || rest_[0] == '0') {
            return false;
        }
        const auto [end, error] = std::from_chars(rest_.data(), rest_.data() + rest_.size(), value);
        if (error != std::errc{} || end == rest_.data()) {
            return false;
        }
        rest_.remove_prefix(static_cast<std::size_t>(end - rest_.data()));
        return true;
    }

    // "0x" and two capital hexadecimal digits.
    bool byte(std::uint8_t& value) {
        if (!take("0x") || rest_.size() < 2) {
            return false;
        }
        unsigned result = 0;
        for (int i = 0; i < 2; ++i) {
            const char c = rest_[0];
            const bool digit = c >= '0' && c <= '9';
            if (!digit && !(c >= 'A' && c <= 'F')) {
                return false;
            }
            result = result * 16 + static_cast<unsigned>(digit ? c - '0' : c - 'A' + 10);
            rest_.remove_prefix(1);
        }
        value = static_cast<std::uint8_t>(result);
        return true;
    }

    bool at_end() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

// Nothing unless the text is exactly an XBM file as this program writes it: the two #define lines,
// the array, one line per row of bytes separated by ", ", the last row ending " \n", then "};".
std::optional<Parsed> parse(std::string_view text) {
    Reader in(text);
    Parsed p;
    if (!in.take("#define im_width ") || !in.number(p.width) || !in.take("\n#define im_height ") ||
        !in.number(p.height) || !in.take("\nstatic char im_bits[] = {\n")) {
        return std::nullopt;
    }
    const std::uint64_t row_bytes = bytes_per_row(p.width);
    p.rows.resize(p.height);
    for (std::uint32_t y = 0; y < p.height; ++y) {
        p.rows[y].resize(row_bytes);
        for (std::uint64_t k = 0; k < row_bytes; ++k) {
            const bool last_of_row = k + 1 == row_bytes;
            const std::string_view after =
                !last_of_row ? ", " : (y + 1 < p.height ? std::string_view(",\n") : " \n");
            if (!in.byte(p.rows[y][k]) || !in.take(after)) {
                return std::nullopt;
            }
        }
    }
    if (!in.take("};") || !in.at_end()) {
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
