// Whether a run fits in the memory this process can still take before the system refuses it or
// kills it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Where the kernel tells about memory; tests point these at files of their own.
struct MemorySources {
    std::string meminfo = "/proc/meminfo";
    std::string cgroups = "/proc/self/cgroup";
    std::string v2_root = "/sys/fs/cgroup";
    std::string v1_root = "/sys/fs/cgroup/memory";
};

// The smaller of the kernel's MemAvailable and the headroom left under every memory limit of
// this process's control groups (v1 or v2), from this group up to the root. Clean file cache
// counts as free there, as MemAvailable counts it, since the kernel drops it before it kills;
// shared memory (tmpfs) stays counted as used. Nothing when neither can be read.
std::optional<std::uint64_t> available_memory(const MemorySources& sources = {});

// The bytes a pointer of this process can reach: all of memory on a 64-bit build, 4 GiB less a
// byte on a 32-bit one, where a bitmap that the machine could hold may lie beyond reach.
std::uint64_t address_space();
