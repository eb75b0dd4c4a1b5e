#include "cli/memory.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

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
