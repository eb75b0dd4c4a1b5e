#include "cli/memory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct MemoryCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // path below the fake root, text
    std::optional<std::uint64_t> expected;
};

class AvailableMemory : public testing::TestWithParam<MemoryCase> {};

// A fake /proc and /sys/fs/cgroup: MemAvailable is 1000 KiB, MemTotal 4000 KiB, unless the case
// leaves meminfo out.
TEST_P(AvailableMemory, TakesTheTightestOfMeminfoAndEveryLimit) {
    const MemoryCase& c = GetParam();
    const fs::path root = fs::temp_directory_path() / ("fractxbm_memory_" + std::string(c.name));
    fs::remove_all(root);
    for (const auto& [path, text] : c.files) {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << text;
    }
    const MemorySources sources{(root / "meminfo").string(), (root / "cgroup").string(),
                                (root / "v2").string(), (root / "v1").string()};
    EXPECT_EQ(available_memory(sources), c.expected) << c.name;
    fs::remove_all(root);
}

const std::pair<std::string, std::string> kMeminfo = {
    "meminfo", "MemTotal:        4000 kB\nMemFree:  900 kB\nMemAvailable:    1000 kB\n"};

INSTANTIATE_TEST_SUITE_P(
    Layouts, AvailableMemory,
    testing::Values(
        MemoryCase{"nothing", {}, std::nullopt}, MemoryCase{"meminfo_only", {kMeminfo}, 1024000},
        // v2: the leaf leaves 700000 (limit 1000000, 400000 used of which 100000 is droppable
        // cache); its parent is tighter still.
        MemoryCase{"v2_leaf",
                   {kMeminfo,
                    {"cgroup", "0::/a/b\n"},
                    {"v2/a/b/memory.max", "1000000\n"},
                    {"v2/a/b/memory.current", "400000\n"},
                    {"v2/a/b/memory.stat", "anon 1\ninactive_file 100000\n"}},
                   700000},
        MemoryCase{"v2_parent",
                   {kMeminfo,
                    {"cgroup", "0::/a/b\n"},
                    {"v2/a/b/memory.max", "1000000\n"},
                    {"v2/a/b/memory.current", "400000\n"},
                    {"v2/a/memory.max", "500000\n"},
                    {"v2/a/memory.current", "450000\n"}},
                   50000},
        MemoryCase{"v2_no_limit",
                   {kMeminfo,
                    {"cgroup", "0::/a\n"},
                    {"v2/a/memory.max", "max\n"},
                    {"v2/a/memory.current", "400000\n"}},
                   1024000},
        MemoryCase{"v2_over_limit",
                   {kMeminfo,
                    {"cgroup", "0::/a\n"},
                    {"v2/a/memory.max", "1000\n"},
                    {"v2/a/memory.current", "5000\n"}},
                   0},
        // v1, among the other controllers' lines; a limit as large as the machine is no limit.
        MemoryCase{"v1",
                   {kMeminfo,
                    {"cgroup", "4:cpu:/\n3:memory:/g/h\n0::/\n"},
                    {"v1/g/h/memory.limit_in_bytes", "9223372036854771712\n"},
                    {"v1/g/memory.limit_in_bytes", "800000\n"},
                    {"v1/g/memory.usage_in_bytes", "300000\n"},
                    {"v1/g/memory.stat", "cache 5\ntotal_inactive_file 50000\n"}},
                   550000}),
    [](const testing::TestParamInfo<MemoryCase>& param_info) {
        return std::string(param_info.param.name);
    });

}  // namespace
