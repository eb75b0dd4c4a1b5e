// This process's control groups, as /proc/self/cgroup names them, walked from each group up to the
// root of its hierarchy: what the memory check and the drawing's processor count both read.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

// The whole text of `path`, however long (a process in many control groups with long names has
// a /proc/self/cgroup of several KiB), or an empty text when it cannot be read. The text goes to
// the heap, never the stack: the checks that read it run first and must fit a stack of a few KiB.
std::string read_kernel_file(const std::string& path);

// Calls `visit(v2, group)` for each line of `cgroups` (the text of /proc/self/cgroup) that names
// the v2 hierarchy ("0::/path"), or a v1 one with `controller` among its controllers
// ("N:cpu,cpuacct:/path").
template <class Visit>
void each_group(std::string_view cgroups, std::string_view controller, Visit visit) {
    while (!cgroups.empty()) {
        const std::size_t end = std::min(cgroups.find('\n'), cgroups.size());
        const std::string_view line = cgroups.substr(0, end);
        cgroups.remove_prefix(std::min(end + 1, cgroups.size()));
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos) {
            continue;
        }
        const std::string controllers =
            "," + std::string(line.substr(first + 1, second - first - 1)) + ",";
        if (line.starts_with("0::")) {
            visit(true, line.substr(second + 1));
        } else if (controllers.find("," + std::string(controller) + ",") != std::string::npos) {
            visit(false, line.substr(second + 1));
        }
    }
}

// Calls `visit(folder)` for the folder of `group` under `root`, then for each of its parents up
// to `root` itself.
template <class Visit>
void up_to_root(const std::string& root, std::string_view group, Visit visit) {
    if (group == "/") {
        group = {};
    }
    for (;;) {
        visit(root + std::string(group));
        const std::size_t parent = group.find_last_of('/');
        if (group.empty() || parent == std::string_view::npos) {
            return;
        }
        group = group.substr(0, parent);
    }
}
