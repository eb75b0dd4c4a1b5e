#include "system/memory.hpp"

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

}  // namespace
