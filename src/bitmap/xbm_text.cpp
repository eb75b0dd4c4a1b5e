// The XBM text of a bitmap, encoded a buffer at a time.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>

#include "bitmap.hpp"

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// A cell is the text of one byte within its row, "0xHH, ".
constexpr std::size_t kCell = 6;

// Every byte value's cell already written, padded to 8 bytes so that copying it is a single
// store: a stamp. The two extra bytes land where the next cell goes.
constexpr auto kStamps = [] {
    std::array<std::array<char, 8>, 256> stamps{};
    for (std::size_t value = 0; value < stamps.size(); ++value) {
        stamps[value] = {'0', 'x', kHexDigits[value >> 4], kHexDigits[value & 15], ',', ' '};
    }
    return stamps;
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

// A row of n bytes is n - 1 cells, then "0xHH" and the row's ending, ",\n" or " \n": as long
// as n cells. An empty row is its ending alone.
std::uint64_t row_text_length(std::uint64_t row_bytes) {
    return row_bytes == 0 ? 2 : kCell * row_bytes;
}

// Eight zero bytes, the commonest stretch of a sparse picture, written out at once.
constexpr auto kZeroCells = [] {
    std::array<char, 8 * kCell> cells{};
    for (std::size_t i = 0; i < cells.size(); i += kCell) {
        std::copy_n(kStamps[0].data(), kCell, cells.data() + i);
    }
    return cells;
}();

// Writes the cells of the bytes from `byte` to `stop` at `out` and returns their end. Up to two
// bytes of padding past the end are overwritten.
char* encode(const std::uint8_t* byte, const std::uint8_t* stop, char* out) {
    for (; stop - byte >= 8; byte += 8, out += 8 * kCell) {
        std::uint64_t group = 0;
        std::memcpy(&group, byte, sizeof group);
        if (group == 0) {
            std::memcpy(out, kZeroCells.data(), kZeroCells.size());
        } else {
            for (std::size_t k = 0; k < 8; ++k) {
                std::memcpy(out + k * kCell, kStamps[byte[k]].data(), sizeof kStamps[0]);
            }
        }
    }
    for (; byte != stop; ++byte, out += kCell) {
        std::memcpy(out, kStamps[*byte].data(), sizeof kStamps[0]);
    }
    return out;
}

// Text is encoded into a caller's buffer, small enough to stay in cache, and handed on each time
// it fills: nothing but the buffer is ever held, whatever the size of the picture.
class TextBuilder {
  public:
    TextBuilder(std::span<char> buffer, XbmSink sink, void* context)
        : buffer_(buffer.data()), size_(buffer.size()), sink_(sink), context_(context) {}

    void put(std::string_view piece) {
        std::memcpy(claim(piece.size()), piece.data(), piece.size());
        used_ += piece.size();
    }
    void put_decimal(std::uint32_t value) {
        char* const out = claim(10);
        advance_to(std::to_chars(out, out + 10, value).ptr);
    }

    // Appends the row's line: a cell for each byte but the last, then the last byte's "0xHH"
    // followed by `ending`.
    void put_row(std::span<const std::uint8_t> row, const char (&ending)[3]) {
        if (row.empty()) {
            put(ending);
            return;
        }
        put_cells(row.first(row.size() - 1));
        char* const out = claim(kCell);
        std::memcpy(out, kStamps[row.back()].data(), 4);
        std::memcpy(out + 4, ending, 2);
        used_ += kCell;
    }

    // Hands what the buffer holds to the sink; the buffer is then empty. After the sink has
    // refused once, the rest is dropped.
    void flush() {
        if (ok_ && used_ > 0) {
            ok_ = sink_(context_, buffer_, used_);
        }
        used_ = 0;
    }
    bool ok() const { return ok_; }

  private:
    // Claims `n` more bytes of the buffer, plus the padding of one stamp, flushing the buffer
    // first when they do not fit; returns where they start.
    char* claim(std::size_t n) {
        if (size_ - used_ < n + kPadding) {
            flush();
        }
        return buffer_ + used_;
    }
    std::size_t cells_that_fit() const { return (size_ - kPadding - used_) / kCell; }
    void advance_to(char* end) { used_ = static_cast<std::size_t>(end - buffer_); }

    // Appends a cell for every byte of `bytes`, flushing the buffer as often as it fills.
    void put_cells(std::span<const std::uint8_t> bytes) {
        const std::uint8_t* byte = bytes.data();
        const std::uint8_t* const last = byte + bytes.size();
        while (byte != last) {
            if (cells_that_fit() == 0) {
                flush();
            }
            const auto left = static_cast<std::size_t>(last - byte);
            const std::uint8_t* const stop = byte + std::min(left, cells_that_fit());
            advance_to(encode(byte, stop, buffer_ + used_));
            byte = stop;
        }
    }

    // What a stamp writes past its cell.
    static constexpr std::size_t kPadding = sizeof kStamps[0] - kCell;
    char* const buffer_;
    const std::size_t size_;
    const XbmSink sink_;
    void* const context_;
    std::size_t used_ = 0;
    bool ok_ = true;
};

}  // namespace

std::string char_to_hex(std::uint8_t byte) {
    return {kStamps[byte].data(), 4};
}

std::uint64_t xbm_text_length(std::uint32_t width, std::uint32_t height) {
    const std::uint64_t fixed =
        kWidthLine.size() + kHeightLine.size() + 2 + kArrayLine.size() + kClosing.size();
    return fixed + decimal_digits(width) + decimal_digits(height) +
           row_text_length(bytes_per_row(width)) * height;
}

bool write_xbm(const CBitmap& bitmap, std::span<char> buffer, XbmSink sink, void* context) {
    TextBuilder out(buffer, sink, context);
    out.put(kWidthLine);
    out.put_decimal(bitmap.width);
    out.put("\n");
    out.put(kHeightLine);
    out.put_decimal(bitmap.height);
    out.put("\n");
    out.put(kArrayLine);
    const auto& rows = bitmap.bits.rows;
    for (std::size_t y = 0; y < rows.size(); ++y) {
        out.put_row(rows[y], y + 1 < rows.size() ? ",\n" : " \n");
        if (!out.ok()) {
            return false;
        }
    }
    out.put(kClosing);
    out.flush();
    return out.ok();
}
