#include "memory.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <limits>
#include <string>
#include <string_view>

#include "control_groups.hpp"

namespace {

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
    return parse_number(read_kernel_file(path));
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
    const std::string stat = read_kernel_file(dir + "/memory.stat");
    for (std::string_view text = stat; !text.empty();) {
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
    up_to_root(root, group, [&](const std::string& dir) {
        const auto limit = read_value(dir + h.limit_file);
        const auto usage =
            limit && *limit < machine ? read_value(dir + h.usage_file) : std::nullopt;
        if (usage) {
            const std::uint64_t used = *usage - std::min(*usage, droppable_cache(h, dir));
            const std::uint64_t left = *limit - std::min(*limit, used);
            headroom = std::min(headroom.value_or(left), left);
        }
    });
    return headroom;
}

}  // namespace

std::optional<std::uint64_t> available_memory(const MemorySources& sources) {
    std::optional<std::uint64_t> available;
    std::uint64_t machine = std::numeric_limits<std::uint64_t>::max();
    {
        const std::string meminfo = read_kernel_file(sources.meminfo);
        if (const auto kib = find_keyed(meminfo, "MemAvailable:")) {
            available = *kib * 1024;
        }
        if (const auto kib = find_keyed(meminfo, "MemTotal:")) {
            machine = *kib * 1024;
        }
    }
    each_group(read_kernel_file(sources.cgroups), "memory", [&](bool v2, std::string_view group) {
        const auto headroom = v2 ? cgroup_headroom(kV2, sources.v2_root, group, machine)
                                 : cgroup_headroom(kV1, sources.v1_root, group, machine);
        if (headroom) {
            available = std::min(available.value_or(*headroom), *headroom);
        }
    });
    return available;
}

std::uint64_t address_space() {
    return std::uint64_t{std::numeric_limits<std::size_t>::max()};
}
