#include "memory.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>
#include <string_view>

namespace {

// The files read here are a few kilobytes of text from the kernel. Plain system calls keep this
// check far cheaper than the run it guards, even the smallest one. They share one buffer outside
// the stack, since the check runs before anything else and must fit a stack of a few KiB; the
// program has one thread.
char g_buffer[8192];

// The text of `path`, cut at the buffer's size; valid until the next call.
std::string_view read_small(const std::string& path) {
    std::size_t size = 0;
    if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        ssize_t got = 0;
        while (size < sizeof g_buffer &&
               (got = ::read(fd, g_buffer + size, sizeof g_buffer - size)) > 0) {
            size += static_cast<std::size_t>(got);
        }
        ::close(fd);
    }
    return {g_buffer, size};
}

std::optional<std::uint64_t> parse_number(std::string_view text) {
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end == text.data()) {
        return std::nullopt;  // missing, or "max" for no limit
    }
    return value;
}

std::optional<std::uint64_t> read_value(const std::string& path) {
    return parse_number(read_small(path));
}

// Takes the first line off `text` and returns it, without its line feed.
std::string_view next_line(std::string_view& text) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    return line;
}

// The number after `key` at the start of a line, as in /proc/meminfo.
std::optional<std::uint64_t> find_keyed(std::string_view text, std::string_view key) {
    while (!text.empty()) {
        if (const std::string_view line = next_line(text); line.starts_with(key)) {
            return parse_number(line.substr(key.size()));
        }
    }
    return std::nullopt;
}

struct Hierarchy {
    const char* limit_file;  // memory.max or memory.limit_in_bytes
    const char* usage_file;  // memory.current or memory.usage_in_bytes
    // The memory.stat keys of the file cache, active and inactive, then of the part of it still
    // to be written out, which the kernel cannot drop at once. Shared memory (tmpfs) lies on the
    // anonymous lists, not in the file cache, so it stays used.
    std::string_view cache_keys[4];
};

constexpr Hierarchy kV2 = {"/memory.max",
                           "/memory.current",
                           {"active_file ", "inactive_file ", "file_dirty ", "file_writeback "}};
constexpr Hierarchy kV1 = {
    "/memory.limit_in_bytes",
    "/memory.usage_in_bytes",
    {"total_active_file ", "total_inactive_file ", "total_dirty ", "total_writeback "}};

// The clean file cache of a group, which the kernel drops before it reclaims anything else.
// One pass over memory.stat for all four keys, comparing whole names (with their space, so that
// "file " is not "file_dirty "): this runs for every limited group up to the root.
std::uint64_t droppable_cache(const Hierarchy& h, const std::string& dir) {
    std::uint64_t values[4] = {};
    for (std::string_view text = read_small(dir + "/memory.stat"); !text.empty();) {
        const std::string_view line = next_line(text);
        const std::string_view name = line.substr(0, std::min(line.find(' '), line.size()) + 1);
        for (std::size_t i = 0; i < 4; ++i) {
            if (name == h.cache_keys[i]) {
                values[i] = parse_number(line.substr(name.size())).value_or(0);
            }
        }
    }
    const std::uint64_t cache = values[0] + values[1];
    return cache - std::min(cache, values[2] + values[3]);
}

// Headroom under the tightest limit from this group up to the root, clean file cache counted
// as free. A limit at or above the machine's memory binds no tighter than MemAvailable, so its
// usage is not even read.
std::optional<std::uint64_t> cgroup_headroom(const Hierarchy& h, const std::string& root,
                                             std::string_view group, std::uint64_t machine) {
    std::optional<std::uint64_t> headroom;
    if (group == "/") {
        group = {};
    }
    for (;;) {
        const std::string dir = root + std::string(group);
        const auto limit = read_value(dir + h.limit_file);
        const auto usage =
            limit && *limit < machine ? read_value(dir + h.usage_file) : std::nullopt;
        if (usage) {
            const std::uint64_t used = *usage - std::min(*usage, droppable_cache(h, dir));
            const std::uint64_t room = *limit - std::min(*limit, used);
            headroom = std::min(headroom.value_or(room), room);
        }
        const std::size_t parent = group.find_last_of('/');
        if (group.empty() || parent == std::string_view::npos) {
            return headroom;
        }
        group = group.substr(0, parent);
    }
}

}  // namespace

std::optional<std::uint64_t> available_memory(const MemorySources& sources) {
    std::optional<std::uint64_t> available;
    std::uint64_t machine = std::numeric_limits<std::uint64_t>::max();
    {
        const std::string_view meminfo = read_small(sources.meminfo);
        if (const auto kib = find_keyed(meminfo, "MemAvailable:")) {
            available = *kib * 1024;
        }
        if (const auto kib = find_keyed(meminfo, "MemTotal:")) {
            machine = *kib * 1024;
        }
    }
    // Lines of /proc/self/cgroup: "0::/path" for v2, "N:memory:/path" (among others) for v1.
    // A copy, since reading the groups' files reuses the buffer.
    const std::string cgroups(read_small(sources.cgroups));
    for (std::string_view text = cgroups; !text.empty();) {
        const std::string_view line = next_line(text);
        std::optional<std::uint64_t> room;
        if (line.starts_with("0::")) {
            room = cgroup_headroom(kV2, sources.v2_root, line.substr(3), machine);
        } else if (const auto at = line.find(":memory:"); at != std::string_view::npos) {
            room = cgroup_headroom(kV1, sources.v1_root, line.substr(at + 8), machine);
        }
        if (room) {
            available = std::min(available.value_or(*room), *room);
        }
    }
    return available;
}

bool keeps_files_in_memory(const std::string& file_name) {
    struct statfs info {};
    if (::statfs(file_name.c_str(), &info) != 0) {
        const std::size_t slash = file_name.find_last_of('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : file_name.substr(0, slash);
        if (::statfs(folder.c_str(), &info) != 0) {
            return false;
        }
    }
    // Compared as the 32-bit numbers they are, whatever the width of f_type.
    const auto type = static_cast<std::uint32_t>(info.f_type);
    return type == TMPFS_MAGIC || type == RAMFS_MAGIC;
}
