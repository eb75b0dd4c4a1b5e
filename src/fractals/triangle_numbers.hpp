// Where the triangle's random numbers come from: once built from a seed, the very numbers that
// rand() gives after srand(seed), in the same order.
#pragma once

#include <cstdint>
#include <cstdlib>

// The plain path, on any C library: rand() itself, seeded by srand().
struct LibraryNumbers {
    explicit LibraryNumbers(unsigned seed) { std::srand(seed); }
    std::uint32_t next() { return static_cast<std::uint32_t>(std::rand()); }
};

using TriangleNumbers = LibraryNumbers;
