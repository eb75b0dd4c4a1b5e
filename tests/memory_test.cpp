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
        // v2: 1000 - (400 used - 100 of clean file cache); "file" counts shared memory too.
        MemoryCase{"v2_leaf",
                   {kMeminfo,
                    {"cgroup", "0::/a/b\n"},
                    {"v2/a/b/memory.max", "1000\n"},
                    {"v2/a/b/memory.current", "400\n"},
                    {"v2/a/b/memory.stat",
                     "file 900\nshmem 300\nfile_dirty 15\n"
                     "file_writeback 5\ninactive_file 50\nactive_file 70\n"}},
                   700},
        // No limit on the leaf; its parent is over its limit, with more dirty pages than cache.
        MemoryCase{"v2_parent",
                   {kMeminfo,
                    {"cgroup", "0::/a/b\n"},
                    {"v2/a/b/memory.max", "max\n"},
                    {"v2/a/memory.max", "400\n"},
                    {"v2/a/memory.current", "450\n"},
                    {"v2/a/memory.stat", "active_file 10\nfile_dirty 100\n"}},
                   0},
        // v1 among other controllers; a limit as large as the machine is none; total_ keys only.
        MemoryCase{"v1",
                   {kMeminfo,
                    {"cgroup", "4:cpu:/\n3:memory:/g/h\n0::/\n"},
                    {"v1/g/h/memory.limit_in_bytes", "9223372036854771712\n"},
                    {"v1/g/memory.limit_in_bytes", "800\n"},
                    {"v1/g/memory.usage_in_bytes", "300\n"},
                    {"v1/g/memory.stat",
                     "cache 5\nactive_file 1\ndirty 1\ntotal_shmem 9\ntotal_dirty 6\n"
                     "total_writeback 4\ntotal_inactive_file 20\ntotal_active_file 40\n"}},
                   550}),
    [](const testing::TestParamInfo<MemoryCase>& param_info) {
        return std::string(param_info.param.name);
    });

// The file itself when it exists (a link to the build folder, on disk), else its folder as typed.
TEST(KeepsFilesInMemory, LooksAtTheFileElseItsFolder) {
    const fs::path build = fs::current_path(), link = "/dev/shm/fractxbm_link_to_build";
    fs::remove(link);
    fs::create_symlink(build, link);
    fs::current_path("/dev/shm");
    EXPECT_FALSE(keeps_files_in_memory(link.string()));
    EXPECT_TRUE(keeps_files_in_memory("fractxbm_missing.xbm"));
    EXPECT_TRUE(keeps_files_in_memory("/dev/shm/fractxbm_missing.xbm"));
    EXPECT_FALSE(keeps_files_in_memory("fractxbm_no_folder/x.xbm"));
    EXPECT_FALSE(keeps_files_in_memory((build / "fractxbm_missing.xbm").string()));
    fs::current_path(build);
    fs::remove(link);
}

}  // namespace
