// Runs the built program as a user would, one line of data/runs.txt at a time (its header says
// what each column holds), and checks its status, outputs and the files it leaves behind.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap/bitmap.hpp"
#include "fractals/fractals.hpp"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

struct Case {
    std::string line;
    std::vector<std::string> args, field;     // the arguments, and every column as written
    std::map<std::string, rlim_t> condition;  // 1 for a condition given without a value
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.line;
}

std::vector<Case> read_cases() {
    std::vector<Case> cases;
    std::ifstream file(FRACTXBM_TEST_DATA "/runs.txt");
    for (std::string line; std::getline(file, line);) {
        Case c{line, {}, {}, {}};
        std::istringstream columns(line);
        for (std::string text; std::getline(columns, text, '|');) {
            c.field.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
            c.field.back().erase(0, c.field.back().find_first_not_of(' '));
        }
        if (line.starts_with('#') || c.field.size() < 5) {
            continue;
        }
        c.field.resize(6);
        std::istringstream args(c.field[0]), conditions(c.field[5]);
        for (std::string arg; args >> arg;) {
            c.args.push_back(arg == "''" ? "" : arg);
        }
        for (std::string word; conditions >> word;) {
            const std::size_t equals = word.find('=');
            c.condition[word.substr(0, equals)] =
                equals == std::string::npos ? 1 : std::stoul(word.substr(equals + 1), nullptr, 0);
        }
        cases.push_back(c);
    }
    return cases;
}

struct Outcome {
    int status = -1;  // the exit status, -1 for a signal, 127 when the program is not there
    std::string out, err;
    long peak_bytes = 0;
};

Outcome run(const fs::path& dir, const std::vector<std::string>& args,
            std::map<std::string, rlim_t> condition = {}, std::string program = FRACTXBM_EXE) {
    int pipe_ends[2] = {-1, -1};
    if (condition["gone_reader"] && ::pipe(pipe_ends) == 0) {
        ::close(pipe_ends[0]);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::chdir(dir.c_str());
        ::umask(static_cast<mode_t>(condition.contains("umask") ? condition["umask"] : 022));
        ::dup2(pipe_ends[1] >= 0 ? pipe_ends[1] : ::open(".out", O_WRONLY | O_CREAT, 0600), 1);
        ::dup2(::open(".err", O_WRONLY | O_CREAT, 0600), 2);
        for (const auto& [resource, name] :
             {std::pair{RLIMIT_FSIZE, "fsize"}, {RLIMIT_STACK, "stack"}, {RLIMIT_AS, "as"}}) {
            const rlimit limit{condition[name], condition[name]};
            if (limit.rlim_cur != 0) {
                ::setrlimit(resource, &limit);
            }
        }
        std::vector<char*> argv{program.data()};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe_ends[1]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / ".out"),
              slurp(dir / ".err"), usage.ru_maxrss * 1024};
    fs::remove(dir / ".out");
    fs::remove(dir / ".err");
    return o;
}

std::uint32_t number(const std::vector<std::string>& args, std::size_t i, std::uint32_t absent) {
    return i < args.size() ? static_cast<std::uint32_t>(std::stoul(args[i])) : absent;
}

// netpbm's xbmtopbm decodes the file into the pixels the run drew, as raw PBM (the leftmost
// pixel in the highest bit): the fern is the same on every run, the triangle is redrawn from
// each second the run may have seeded rand() with.
void expect_decoded(const fs::path& dir, const std::vector<std::string>& args, std::time_t first) {
    const Outcome pbm = run(dir, {args[0]}, {}, "xbmtopbm");
    if (pbm.status == 127 && std::getenv("CI") == nullptr) {
        GTEST_SKIP() << "xbmtopbm is not installed (Debian package netpbm)";
    }
    ASSERT_EQ(pbm.status, 0) << pbm.err;
    std::string expected;
    for (std::time_t seed = first; seed <= std::time(nullptr) && expected != pbm.out; ++seed) {
        CBitmap drawn(number(args, 2, 1000), number(args, 3, 1000), false);
        std::srand(static_cast<unsigned>(seed));
        (args[1] == "fern" ? draw_fern : draw_triangle)(drawn, number(args, 4, 100000));
        expected = "P4\n" + args[2] + " " + args[3] + "\n";
        for (const auto& row : drawn.bits.rows) {
            for (const std::uint8_t byte : row) {
                expected += static_cast<char>((byte * 0x0202020202ULL & 0x010884422010ULL) % 1023);
            }
        }
    }
    EXPECT_TRUE(expected == pbm.out) << "xbmtopbm decoded other pixels";
}

// Longer than any text a run writes over it here, so that a file not truncated shows.
const std::string kPrecious(1000, '#');

// Each run has a folder of its own, holding keep.xbm and an empty a_directory/.
class Runs : public testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::temp_directory_path() / ("fractxbm_" + std::to_string(::getpid()) + name);
        fs::create_directories(dir_ / "a_directory");
        std::ofstream(dir_ / "keep.xbm") << kPrecious;
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(Runs, StatusOutputsAndFiles) {
    Case c = GetParam();
#ifdef FRACTXBM_SANITIZED
    if (c.condition.contains("stack") || c.condition.contains("as") ||
        c.condition.contains("footprint")) {
        GTEST_SKIP() << "the sanitizers need more stack and memory, and hold more";
    }
#endif
    const std::time_t start = std::time(nullptr);
    const Outcome o = run(dir_, c.args, c.condition);
    EXPECT_EQ(o.status, std::stoi(c.field[1]));
    EXPECT_EQ(o.out, c.field[2] == "yes" ? slurp(FRACTXBM_TEST_DATA "/help.txt") : "");
    const std::string& err = c.field[3];
    if (err.ends_with("...")) {
        EXPECT_EQ(o.err.substr(0, err.size() - 3), err.substr(0, err.size() - 3));
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << o.err;
    } else {
        EXPECT_EQ(o.err, err.empty() ? "" : err + "\n");
    }
    const std::string target = c.args.empty() ? "" : c.args[0];
    const std::size_t size = std::stoul(c.field[4]);
    EXPECT_TRUE((target == "keep.xbm" && size != 0) || slurp(dir_ / "keep.xbm") == kPrecious);
    EXPECT_TRUE(fs::is_empty(dir_ / "a_directory"));
    if (size == 0) {
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2) << "a new file is left";
    } else {
        EXPECT_EQ(slurp(dir_ / target).size(), size);
    }
    if (c.condition.contains("mode")) {
        EXPECT_EQ(fs::status(dir_ / target).permissions(), fs::perms(c.condition["mode"]));
    }
    if (c.condition.contains("decode")) {
        expect_decoded(dir_, c.args, start);
    }
    // What a run holds, above what the smallest run holds, against the memory check's estimate.
    if (c.condition.contains("footprint")) {
        const long held = o.peak_bytes - run(dir_, {"o.xbm", "fern", "1", "1", "1"}).peak_bytes;
        const auto estimate =
            static_cast<long>(bitmap_footprint(number(c.args, 2, 1000), number(c.args, 3, 1000)));
        EXPECT_TRUE(held <= estimate && held >= estimate * 9 / 10) << held << " " << estimate;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Runs, testing::ValuesIn(read_cases()));

}  // namespace
