// One-bit-per-pixel raster stored as packed byte rows in XBM bit order, and its XBM text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <span>
#include <string>
#include <vector>

// The memory of one bit store: a single anonymous mapping, mapped when the store is sized and
// handed out front to back, so that a large picture costs one system call and few page faults
// instead of a heap allocation per row. Freeing a piece is a no-op; the mapping goes with the
// arena. Built with AddressSanitizer, every piece comes from the ordinary heap instead, so that
// each row keeps bounds of its own.
class RowArena final : public std::pmr::memory_resource {
  public:
    RowArena() = default;
    RowArena(const RowArena&) = delete;
    RowArena& operator=(const RowArena&) = delete;
    ~RowArena() override;

    // Maps `size` bytes, all 0; throws std::bad_alloc when the system refuses. Called once.
    void reserve(std::uint64_t size);
    // The bytes handed out so far.
    std::uint64_t used() const { return used_; }

  private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override;
    void do_deallocate(void* piece, std::size_t bytes, std::size_t alignment) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    char* base_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t used_ = 0;
};

// Rows of packed bytes. Pixel x of a row lives in byte x / 8 at bit x % 8, bit 0 being the least
// significant: the leftmost pixel of each group of eight is the lowest bit, as XBM wants it.
// The bit operations do not check their arguments: x must stay below 8 * row length and the row
// below the row count.
class BitArray {
    // Declared before the rows, so that it outlives them.
    RowArena arena_;

  public:
    using Row = std::pmr::vector<std::uint8_t>;
    std::pmr::vector<Row> rows{&arena_};

    BitArray() = default;
    // A store is sized once and handed around by reference; a copy would only be a slow mistake.
    BitArray(const BitArray&) = delete;
    BitArray& operator=(const BitArray&) = delete;

    // Makes `row_count` rows of ceil(bits_per_row / 8) bytes each, all 0, in one mapping of
    // bitmap_footprint(bits_per_row, row_count) bytes. Called once.
    void set_size(std::uint32_t bits_per_row, std::uint32_t row_count);
    // What the rows and their table took from the mapping.
    std::uint64_t footprint() const { return arena_.used(); }

    bool get_bit(std::uint32_t x, std::uint32_t row) const {
        return (rows[row][x >> 3] & mask(x)) != 0;
    }
    void set_bit(std::uint32_t x, std::uint32_t row) { rows[row][x >> 3] |= mask(x); }
    void reset_bit(std::uint32_t x, std::uint32_t row) {
        rows[row][x >> 3] &= static_cast<std::uint8_t>(~mask(x));
    }
    void change_bit(std::uint32_t x, std::uint32_t row) { rows[row][x >> 3] ^= mask(x); }

  private:
    static std::uint8_t mask(std::uint32_t x) { return static_cast<std::uint8_t>(1u << (x & 7u)); }
};

// A monochrome image: `width` x `height` pixels, (0, 0) at the top left. A set pixel is drawn.
class CBitmap {
  public:
    std::uint32_t width;
    std::uint32_t height;
    BitArray bits;

    // All pixels clear, or, with `fill`, every bit of every byte set (spare bits past the width
    // included).
    CBitmap(std::uint32_t width, std::uint32_t height, bool fill);

    bool get_pixel(std::uint32_t x, std::uint32_t y) const { return bits.get_bit(x, y); }
    void set_pixel(std::uint32_t x, std::uint32_t y) { bits.set_bit(x, y); }
    void reset_pixel(std::uint32_t x, std::uint32_t y) { bits.reset_bit(x, y); }
    void change_pixel(std::uint32_t x, std::uint32_t y) { bits.change_bit(x, y); }

    // The whole XBM file text: two #define lines, then one line of "0xHH, " bytes per row, the
    // last row ending in a space instead of a comma, then "};" with no line feed after it.
    std::string tostr() const;
};

// "0x" and two capital hexadecimal digits: 10 gives "0x0A".
std::string char_to_hex(std::uint8_t byte);

// Bytes in each row of a bitmap `width` pixels wide.
constexpr std::uint64_t bytes_per_row(std::uint32_t width) {
    return (std::uint64_t{width} + 7) / 8;
}

// Exact length of the text tostr() makes for a bitmap of this size.
std::uint64_t xbm_text_length(std::uint32_t width, std::uint32_t height);

// The memory a bitmap of this size holds, exactly: its rows and their table, in one mapping.
constexpr std::uint64_t bitmap_footprint(std::uint32_t width, std::uint32_t height) {
    return (sizeof(BitArray::Row) + bytes_per_row(width)) * height;
}

// Takes the XBM text a piece at a time, in order; returns false to stop the encoding.
using XbmSink = bool (*)(void* context, const char* data, std::size_t size);

// The buffer the program encodes its text through. A bigger one costs page faults and cache
// misses on a small picture; a smaller one, system calls on a large one.
inline constexpr std::size_t kTextBufferSize = std::size_t{1} << 16;

// The smallest buffer write_xbm can encode through.
inline constexpr std::size_t kMinXbmBuffer = 64;

// Encodes the same text as tostr() through `buffer` (at least kMinXbmBuffer bytes), handing the
// buffer to `sink` each time it fills and once more at the end. Returns false as soon as the sink
// does, true once the whole text has been taken.
bool write_xbm(const CBitmap& bitmap, std::span<char> buffer, XbmSink sink, void* context);
