// How much memory this process can still take before the system refuses it or kills it.
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

// Whether the file system that would hold `file_name` keeps its files in memory (tmpfs, ramfs,
// hence /dev/shm), so that writing the file takes memory as well: the file itself when it
// exists (a link into tmpfs counts), else its folder as typed. False when it cannot tell.
bool keeps_files_in_memory(const std::string& file_name);
