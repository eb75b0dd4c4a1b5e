#include "bitmap.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Every byte value already written as "0xHH, ", so encoding a row is one copy per byte.
constexpr std::size_t kCell = 6;
constexpr auto kCells = [] {
    std::array<std::array<char, kCell>, 256> cells{};
    for (std::size_t value = 0; value < cells.size(); ++value) {
        cells[value] = {'0', 'x', kHexDigits[value >> 4], kHexDigits[value & 15], ',', ' '};
    }
    return cells;
}();

constexpr std::string_view kWidthLine = "#define im_width ";
constexpr std::string_view kHeightLine = "#define im_height ";
constexpr std::string_view kArrayLine = "static char im_bits[] = {\n";
constexpr std::string_view kClosing = "};";

std::uint64_t decimal_digits(std::uint32_t value) {
    std::uint64_t digits = 1;
    for (; value >= 10; value /= 10) {
        ++digits;
    }
    return digits;
}

// A row of n bytes is n cells of "0xHH, " whose last ", " becomes ",\n"; an empty row is ",\n".
std::uint64_t row_text_length(std::uint64_t row_bytes) {
    return row_bytes == 0 ? 2 : kCell * row_bytes;
}

char* put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

char* put_decimal_line(char* out, std::string_view label, std::uint32_t value) {
    out = put(out, label);
    out = std::to_chars(out, out + 10, value).ptr;
    *out = '\n';
    return out + 1;
}

}  // namespace

void BitArray::set_size(std::uint32_t bits_per_row, std::uint32_t row_count) {
    rows.resize(row_count);
    for (auto& row : rows) {
        row.resize(bytes_per_row(bits_per_row));
    }
}

CBitmap::CBitmap(std::uint32_t width_, std::uint32_t height_, bool fill)
    : width(width_), height(height_) {
    bits.set_size(width, height);
    if (fill) {
        for (auto& row : bits.rows) {
            std::fill(row.begin(), row.end(), std::uint8_t{0xFF});
        }
    }
}

std::string char_to_hex(std::uint8_t byte) {
    return {kCells[byte].data(), 4};
}

std::uint64_t xbm_text_length(std::uint32_t width, std::uint32_t height) {
    const std::uint64_t fixed =
        kWidthLine.size() + kHeightLine.size() + 2 + kArrayLine.size() + kClosing.size();
    return fixed + decimal_digits(width) + decimal_digits(height) +
           row_text_length(bytes_per_row(width)) * height;
}

std::uint64_t bitmap_footprint(std::uint32_t width, std::uint32_t height) {
    // Each row is a vector header plus a heap block; the allocator adds a header and rounds up.
    constexpr std::uint64_t kRowOverhead = sizeof(std::vector<std::uint8_t>) + 32;
    return (bytes_per_row(width) + kRowOverhead) * height;
}

std::string CBitmap::tostr() const {
    // The length is known exactly, so the text is allocated once and written through a pointer.
    std::string text(xbm_text_length(width, height), '\0');
    char* out = text.data();
    out = put_decimal_line(out, kWidthLine, width);
    out = put_decimal_line(out, kHeightLine, height);
    out = put(out, kArrayLine);
    for (const auto& row : bits.rows) {
        for (const std::uint8_t byte : row) {
            std::memcpy(out, kCells[byte].data(), kCell);
            out += kCell;
        }
        if (row.empty()) {
            out = put(out, ",\n");
        } else {
            out[-1] = '\n';
        }
    }
    if (!bits.rows.empty()) {
        out[-2] = ' ';
    }
    put(out, kClosing);
    return text;
}
