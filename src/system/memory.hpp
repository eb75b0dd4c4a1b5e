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

// The memory that writing `length` bytes of text into the file named `file_name` takes: none on
// a disk; on a file system that keeps its files in memory (tmpfs, ramfs, hence /dev/shm), the
// text less the pages of the file it replaces, which the rewrite gives back. The file is judged
// where it is or would be created, through any symbolic link. 0 when it cannot tell.
std::uint64_t memory_taken_by_file(const std::string& file_name, std::uint64_t length);

// "ERREUR: Memoire insuffisante pour une image de W x H", the start of every memory refusal.
std::string memory_error(std::uint32_t width, std::uint32_t height);

// Whether a run fits in the memory the system can give: a bitmap of `width` x `height`, one block
// of text, and the file itself when it is kept in memory. If not, says so in one line with the
// figures. True when the system tells nothing of its memory.
bool memory_suffices(std::uint32_t width, std::uint32_t height, const std::string& file_name);
