// Where the triangle's random numbers come from. Both kinds below give, once built from a seed,
// the very numbers that rand() gives after srand(seed), in the same order: the picture for a
// seed does not depend on which one draws it.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <type_traits>

// The plain path, on any C library: rand() itself, seeded by srand(), or going on from where
// it stands.
struct LibraryNumbers {
    LibraryNumbers() = default;
    explicit LibraryNumbers(unsigned seed) { std::srand(seed); }
    std::uint32_t next() { return static_cast<std::uint32_t>(std::rand()); }
    void draw(std::span<std::uint32_t> out) {
        for (std::uint32_t& number : out) {
            number = next();
        }
    }
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
    // thrown away. glibc's first sum is of its words 3 and 0: the oldest is its word 3.
    constexpr explicit GlibcNumbers(unsigned seed) {
        auto word = static_cast<std::int32_t>(seed == 0 ? 1 : seed);
        words_[kDegree - 3] = static_cast<std::uint32_t>(word);
        for (std::uint32_t i = 1; i < kDegree; ++i) {
            const std::int32_t hi = word / 127773;
            const std::int32_t lo = word % 127773;
            word = 16807 * lo - 2836 * hi;
            if (word < 0) {
                word += 2147483647;
            }
            words_[(i + kDegree - 3) % kDegree] = static_cast<std::uint32_t>(word);
        }
        for (std::uint32_t i = 0; i < 10 * kDegree; ++i) {
            next();
        }
    }

    // As random_r: the next word is the sum, modulo 2^32, of the words written 31 and 3 numbers
    // before it, and is given without its lowest bit.
    constexpr std::uint32_t next() {
        std::uint32_t number = 0;
        draw({&number, 1});
        return number;
    }

    // The next out.size() numbers, as as many calls of next() would give them.
    constexpr void draw(std::span<std::uint32_t> out) {
        for (std::size_t done = 0; done < out.size();) {
            if (next_ == words_.size()) {
                // The last 31 words, all that the next ones need, go to the front.
                std::copy(words_.end() - kDegree, words_.end(), words_.begin());
                next_ = kDegree;
            }
            if (!std::is_constant_evaluated()) {
                done = draw_by_threes(out, done);
            }
            const std::size_t count = std::min(out.size() - done, words_.size() - next_);
            for (std::size_t i = next_; i < next_ + count; ++i) {
                words_[i] = words_[i - kDegree] + words_[i - 3];
                out[done++] = words_[i] >> 1;
            }
            next_ += count;
        }
    }

    // Moves on by `count` numbers at once, as `count` calls of next() would, in about as long as
    // a few thousand of them: each word is a fixed sum of the 31 before it (see the .cpp).
    void jump(std::uint64_t count);

  private:
    static constexpr std::uint32_t kDegree = 31;
    // Four words side by side in a vector register, added and shifted lane by lane.
    typedef std::uint32_t Lanes __attribute__((vector_size(16)));

    // Draws numbers three at a time from out[done] on, while a fourth lane fits in both out and
    // words_, and returns how far it got. Each word's sum takes the word 3 places before it, so
    // three words are summed at once, by vector, the fourth lane's sum being a stray one that
    // the next three overwrite; and the three before them are the sums just made, still in
    // their register.
    std::size_t draw_by_threes(std::span<std::uint32_t> out, std::size_t done) {
        Lanes recent;
        std::memcpy(&recent, &words_[next_ - 3], sizeof recent);
        for (; done + 4 <= out.size() && next_ + 4 <= words_.size(); done += 3, next_ += 3) {
            Lanes oldest;
            std::memcpy(&oldest, &words_[next_ - kDegree], sizeof oldest);
            recent += oldest;
            std::memcpy(&words_[next_], &recent, sizeof recent);
            const Lanes numbers = recent >> 1;
            std::memcpy(&out[done], &numbers, sizeof numbers);
        }
        return done;
    }

    // The words written so far, oldest first, from words_[next_ - 31] on: written in a row, they
    // need no index that wraps round, and a batch of numbers is one plain loop.
    std::array<std::uint32_t, kDegree + 225> words_{};
    std::size_t next_ = kDegree;
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
