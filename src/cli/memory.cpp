#include "memory.hpp"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::optional<std::uint64_t> read_value(const std::string& path) {
    std::ifstream file(path);
    std::uint64_t value = 0;
    if (file >> value) {
        return value;
    }
    return std::nullopt;  // missing, or "max" for no limit
}

// The number after `key` in a file of "key value" lines, such as /proc/meminfo or memory.stat.
std::optional<std::uint64_t> read_keyed(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            std::istringstream rest(line.substr(key.size()));
            std::uint64_t value = 0;
            if (rest >> value) {
                return value;
            }
        }
    }
    return std::nullopt;
}

struct Hierarchy {
    std::string root;        // where the hierarchy is mounted
    std::string limit_file;  // memory.max or memory.limit_in_bytes
    std::string usage_file;  // memory.current or memory.usage_in_bytes
    std::string inactive_key;
};

const Hierarchy kV2 = {"/sys/fs/cgroup", "memory.max", "memory.current", "inactive_file "};
const Hierarchy kV1 = {"/sys/fs/cgroup/memory", "memory.limit_in_bytes", "memory.usage_in_bytes",
                       "total_inactive_file "};

// Headroom under the tightest limit from this group up to the root. Page cache that the kernel
// can drop on its own (inactive file pages) does not count as used.
std::optional<std::uint64_t> cgroup_headroom(const Hierarchy& h, std::string group) {
    std::optional<std::uint64_t> headroom;
    for (;;) {
        const std::string dir = h.root + group;
        const auto limit = read_value(dir + "/" + h.limit_file);
        const auto usage = read_value(dir + "/" + h.usage_file);
        if (limit && usage) {
            const std::uint64_t inactive =
                read_keyed(dir + "/memory.stat", h.inactive_key).value_or(0);
            const std::uint64_t used = *usage - std::min(*usage, inactive);
            const std::uint64_t room = *limit - std::min(*limit, used);
            headroom = std::min(headroom.value_or(room), room);
        }
        if (group.empty() || group == "/") {
            return headroom;
        }
        group.erase(group.find_last_of('/'));
    }
}

}  // namespace

std::optional<std::uint64_t> available_memory() {
    std::optional<std::uint64_t> available;
    if (const auto kib = read_keyed("/proc/meminfo", "MemAvailable:")) {
        available = *kib * 1024;
    }
    // Lines of /proc/self/cgroup: "0::/path" for v2, "N:memory:/path" (among others) for v1.
    std::ifstream cgroups("/proc/self/cgroup");
    std::string line;
    while (std::getline(cgroups, line)) {
        std::optional<std::uint64_t> room;
        if (line.rfind("0::", 0) == 0) {
            room = cgroup_headroom(kV2, line.substr(3));
        } else if (const auto at = line.find(":memory:"); at != std::string::npos) {
            room = cgroup_headroom(kV1, line.substr(at + 8));
        }
        if (room) {
            available = std::min(available.value_or(*room), *room);
        }
    }
    return available;
}
