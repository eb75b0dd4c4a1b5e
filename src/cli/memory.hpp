// How much memory this process can still take before the system refuses it or kills it.
#pragma once

#include <cstdint>
#include <optional>

// The smaller of the kernel's MemAvailable and the headroom left under every memory limit of
// this process's control groups (v1 or v2). Nothing when neither can be read.
std::optional<std::uint64_t> available_memory();
