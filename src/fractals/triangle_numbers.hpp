// Where the triangle's random numbers come from. Both kinds below give, once built from a seed,
// the very numbers that rand() gives after srand(seed), in the same order: the picture for a
// seed does not depend on which one draws it.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>

// The plain path, on any C library: rand() itself, seeded by srand().
struct LibraryNumbers {
    explicit LibraryNumbers(unsigned seed) { std::srand(seed); }
    std::uint32_t next() { return static_cast<std::uint32_t>(std::rand()); }
};

#ifdef __GLIBC__

// glibc's rand() written out: the additive feedback generator over 31 words that its srand()
// sets up (TYPE_3). glibc's own rand() takes a process-wide lock on every call, which cost
// more than the rest of a triangle's step; this copy draws the same numbers without it.
class GlibcNumbers {
  public:
    // As srandom_r: a seed of 0 counts as 1; the first word is the seed taken as a signed 32-bit
    // number (negative from 2^31 on), each next word 16807 times the one before modulo 2^31 - 1,
    // worked out in signed arithmetic exactly as glibc does, and the first 310 outputs are
    // thrown away.
    constexpr explicit GlibcNumbers(unsigned seed) {
        auto word = static_cast<std::int32_t>(seed == 0 ? 1 : seed);
        state_[0] = static_cast<std::uint32_t>(word);
        for (std::uint32_t i = 1; i < kDegree; ++i) {
            const std::int32_t hi = word / 127773;
            const std::int32_t lo = word % 127773;
            word = 16807 * lo - 2836 * hi;
            if (word < 0) {
                word += 2147483647;
            }
            state_[i] = static_cast<std::uint32_t>(word);
        }
        for (std::uint32_t i = 0; i < 10 * kDegree; ++i) {
            next();
        }
    }

    // As random_r: the word at the front, written 31 numbers ago, gains the one written 3 numbers
    // ago, modulo 2^32, and is given without its lowest bit; both places move on round the ring.
    constexpr std::uint32_t next() {
        state_[front_] += state_[rear_];
        const std::uint32_t number = state_[front_] >> 1;
        front_ = front_ + 1 == kDegree ? 0 : front_ + 1;
        rear_ = rear_ + 1 == kDegree ? 0 : rear_ + 1;
        return number;
    }

  private:
    static constexpr std::uint32_t kDegree = 31;
    std::array<std::uint32_t, kDegree> state_{};
    std::uint32_t front_ = 3;
    std::uint32_t rear_ = 0;
};

// The first numbers of an unseeded rand(), which glibc seeds with 1.
static_assert([] {
    GlibcNumbers numbers(1);
    return numbers.next() == 1804289383 && numbers.next() == 846930886;
}());

using TriangleNumbers = GlibcNumbers;

#else

using TriangleNumbers = LibraryNumbers;

#endif
