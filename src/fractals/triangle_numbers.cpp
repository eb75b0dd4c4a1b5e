#include "triangle_numbers.hpp"

#include <algorithm>

#ifdef __GLIBC__

namespace {

// Words of the ring, oldest first, follow w[k + 31] = w[k + 28] + w[k] modulo 2^32: moving on
// by n is multiplying by x^n modulo x^31 - x^28 - 1, a polynomial whose 31 coefficients say how
// much of each word of the ring makes the word n places on.
constexpr std::uint32_t kDegree = 31;
using Polynomial = std::array<std::uint32_t, kDegree>;

// a * b modulo x^31 - x^28 - 1: x^k for k >= 31 is x^(k - 3) + x^(k - 31), folded from the top.
Polynomial times(const Polynomial& a, const Polynomial& b) {
    std::array<std::uint32_t, 2 * kDegree - 1> product{};
    for (std::uint32_t i = 0; i < kDegree; ++i) {
        for (std::uint32_t j = 0; j < kDegree; ++j) {
            product[i + j] += a[i] * b[j];
        }
    }
    for (std::uint32_t k = 2 * kDegree - 2; k >= kDegree; --k) {
        product[k - 3] += product[k];
        product[k - kDegree] += product[k];
    }
    Polynomial reduced;
    std::copy_n(product.begin(), kDegree, reduced.begin());
    return reduced;
}

// a * x modulo x^31 - x^28 - 1.
Polynomial times_x(const Polynomial& a) {
    Polynomial shifted;
    shifted[0] = a[kDegree - 1];
    for (std::uint32_t k = 1; k < kDegree; ++k) {
        shifted[k] = a[k - 1];
    }
    shifted[28] += a[kDegree - 1];
    return shifted;
}

}  // namespace

void GlibcNumbers::jump(std::uint64_t count) {
    Polynomial power{1};  // x^0, then x^count
    Polynomial square{0, 1};
    for (; count > 0; count >>= 1) {
        if ((count & 1) != 0) {
            power = times(power, square);
        }
        square = times(square, square);
    }
    // The last 31 words, oldest first, become the 31 that follow them by `count`.
    std::array<std::uint32_t, kDegree> ring{};
    std::copy(words_.begin() + static_cast<std::ptrdiff_t>(next_ - kDegree),
              words_.begin() + static_cast<std::ptrdiff_t>(next_), ring.begin());
    // The word k places past the count is made by x^(count + k).
    for (std::uint32_t k = 0; k < kDegree; ++k, power = times_x(power)) {
        std::uint32_t word = 0;
        for (std::uint32_t i = 0; i < kDegree; ++i) {
            word += power[i] * ring[i];
        }
        words_[k] = word;
    }
    next_ = kDegree;
}

#endif
