#include "system/memory.hpp"
#include "files/facts.hpp"

#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

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

// A file is kept in memory where it lives, or would be created, on tmpfs: through a link into
// /dev/shm, dangling or not, but not through one out of it.
TEST(KeptInMemory, WhereTheFileLivesOrWouldBeMade) {
    const fs::path build = fs::current_path();
    const fs::path shm = "/dev/shm/fractxbm_" + std::to_string(::getpid());
    const fs::path dangling = build / ("fractxbm_to_shm_" + std::to_string(::getpid()));
    fs::create_directory(shm);
    fs::create_directory_symlink(build, shm / "to_build");
    fs::create_symlink(shm / "new.xbm", dangling);
    std::ofstream(shm / "old.xbm") << "#";
    fs::current_path(shm);
    const std::pair<std::string, bool> cases[] = {
        {"new.xbm", true},
        {(shm / "new.xbm").string(), true},
        {dangling.string(), true},
        {"old.xbm", true},
        {"to_build", false},
        {"no_folder/x.xbm", false},
        {(build / "new.xbm").string(), false},
    };
    for (const auto& [name, kept] : cases) {
        EXPECT_EQ(kept_in_memory(gather_facts(name, this_process(), true)), kept) << name;
    }
    fs::current_path(build);
    fs::remove_all(shm);
    fs::remove(dangling);
}

}  // namespace
