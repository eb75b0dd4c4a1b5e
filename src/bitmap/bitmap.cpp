#include "bitmap.hpp"

#include <sys/mman.h>

#include <algorithm>
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
