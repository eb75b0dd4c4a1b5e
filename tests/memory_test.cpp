#include "system/memory.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

namespace fs = std::filesystem;

namespace {

// Each folder of data/memory is a fake /proc and /sys/fs/cgroup, with the room the check must
// find there; its README says why.
TEST(AvailableMemory, TakesTheTightestOfMeminfoAndEveryLimit) {
    for (const fs::directory_entry& entry : fs::directory_iterator(FRACTXBM_TEST_DATA "/memory")) {
        const fs::path root = entry.path();
        std::string expected;
        if (std::ifstream(root / "expected") >> expected) {
            const auto found =
                available_memory({(root / "meminfo").string(), (root / "cgroup").string(),
                                  (root / "v2").string(), (root / "v1").string()});
            EXPECT_EQ(found ? std::to_string(*found) : "none", expected) << root;
        }
    }
}

// A text of `length` bytes costs memory where the file lives, or would be created, on tmpfs, less
// the pages of the file it rewrites there: through a link into /dev/shm, dangling or not, but
// not through one out of it.
TEST(MemoryTakenByFile, IsTheTextLessTheOldFileOnTmpfs) {
    const fs::path build = fs::current_path();
    const fs::path shm = "/dev/shm/fractxbm_" + std::to_string(::getpid());
    const fs::path dangling = build / ("fractxbm_to_shm_" + std::to_string(::getpid()));
    fs::create_directory(shm);
    fs::create_directory_symlink(build, shm / "to_build");
    fs::create_symlink(shm / "new.xbm", dangling);
    std::ofstream(shm / "old.xbm") << std::string(100000, '#');  // 25 pages: 102400 bytes
    fs::current_path(shm);
    const std::tuple<std::string, std::uint64_t, std::uint64_t> cases[] = {
        {"new.xbm", 300000, 300000},
        {(shm / "new.xbm").string(), 300000, 300000},
        {dangling.string(), 300000, 300000},
        {"old.xbm", 300000, 300000 - 102400},
        {"old.xbm", 50000, 0},
        {"to_build", 300000, 0},
        {"no_folder/x.xbm", 300000, 0},
        {(build / "new.xbm").string(), 300000, 0},
    };
    for (const auto& [name, length, taken] : cases) {
        EXPECT_EQ(memory_taken_by_file(name, length), taken) << name << ", " << length;
    }
    fs::current_path(build);
    fs::remove_all(shm);
    fs::remove(dangling);
}

}  // namespace
