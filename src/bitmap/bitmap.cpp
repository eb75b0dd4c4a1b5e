#include "bitmap.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <new>
#include <utility>

namespace {

// A byte count as a size of this process's memory. The memory check refuses beforehand a
// picture beyond a 32-bit address space; should one still come, it fails as memory refused.
std::size_t to_size(std::uint64_t bytes) {
    if (!std::in_range<std::size_t>(bytes)) {
        throw std::bad_alloc();
    }
    return static_cast<std::size_t>(bytes);
}

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

// Fresh memory written once, front to back (the text, the rows), costs more in page faults than
// in the writing. Memory that holds whole 2 MiB pages asks for huge pages: a few hundred faults
// instead of tens of thousands. Less has all its pages mapped by one call instead of one fault
// each. The kernel may refuse either advice; the pages then come one by one as usual.
void prepare_for_writing(const char* memory, std::size_t size) {
    const auto start = reinterpret_cast<std::uintptr_t>(memory);
    const auto advise = [start, size](std::uintptr_t page, int advice) {
        const std::uintptr_t first = (start + page - 1) & ~(page - 1);
        const std::uintptr_t last = (start + size) & ~(page - 1);
        return last > first && ::madvise(reinterpret_cast<void*>(first), last - first, advice) == 0;
    };
#if defined(MADV_HUGEPAGE) && defined(MADV_POPULATE_WRITE)
    if (!advise(std::uintptr_t{1} << 21, MADV_HUGEPAGE)) {
        advise(4096, MADV_POPULATE_WRITE);
    }
#else
    (void)advise;
#endif
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

// AddressSanitizer knows the bounds of heap allocations only: in one mapping, a row overrun
// would land unseen in the next row. Built with it, or where there is no anonymous mapping, the
// arena hands out heap allocations instead.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FRACTXBM_ROWS_ON_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || !defined(MAP_ANONYMOUS)
#define FRACTXBM_ROWS_ON_HEAP 1
#endif

#ifdef FRACTXBM_ROWS_ON_HEAP
RowArena::~RowArena() = default;
void RowArena::reserve(std::uint64_t size) {
    size_ = size;
}
void* RowArena::do_allocate(std::size_t bytes, std::size_t alignment) {
    used_ += bytes;
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
}
void RowArena::do_deallocate(void* piece, std::size_t bytes, std::size_t alignment) {
    std::pmr::new_delete_resource()->deallocate(piece, bytes, alignment);
}
#else
RowArena::~RowArena() {
    if (base_ != nullptr) {
        // The size came through to_size when it was mapped.
        ::munmap(base_, static_cast<std::size_t>(size_));
    }
}

void RowArena::reserve(std::uint64_t size) {
    if (size == 0) {
        return;
    }
    const std::size_t bytes = to_size(size);
    void* const base =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) {
        throw std::bad_alloc();
    }
    base_ = static_cast<char*>(base);
    size_ = size;
    prepare_for_writing(base_, bytes);
}

void* RowArena::do_allocate(std::size_t bytes, std::size_t alignment) {
    const std::uint64_t start = (used_ + alignment - 1) & ~std::uint64_t{alignment - 1};
    if (bytes > size_ - std::min(start, size_)) {
        throw std::bad_alloc();
    }
    used_ = start + bytes;
    return base_ + start;
}

void RowArena::do_deallocate(void*, std::size_t, std::size_t) {}
#endif

void BitArray::set_size(std::uint32_t bits_per_row, std::uint32_t row_count) {
    arena_.reserve(bitmap_footprint(bits_per_row, row_count));
    // The table first, then the rows, each allocated once at its exact size: the mapping holds
    // them end to end with no gap.
    rows.resize(row_count);
    const std::size_t row_bytes = to_size(bytes_per_row(bits_per_row));
    for (auto& row : rows) {
        row.resize(row_bytes);
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

std::string CBitmap::tostr() const {
    std::string text;
    text.reserve(to_size(xbm_text_length(width, height)));
    prepare_for_writing(text.data(), text.capacity());
    char buffer[2048];
    write_xbm(
        *this, buffer,
        [](void* context, const char* data, std::size_t size) {
            static_cast<std::string*>(context)->append(data, size);
            return true;
        },
        &text);
    return text;
}
