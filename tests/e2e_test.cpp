// Runs the built program as a user would, one line of data/runs.txt at a time, and checks its
// status, standard output, standard error and the files it leaves behind.
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
#include <utility>
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

// A run's conditions, by their names in runs.txt; a value of 1 when none is given.
using Conditions = std::map<std::string, rlim_t>;

struct Outcome {
    int status = -1;  // the exit status, -1 for a signal, 127 when the program is not there
    std::string out, err;
    long peak_kib = 0;
};

Outcome run(const fs::path& dir, const std::vector<std::string>& args, Conditions setup = {},
            const std::string& program = FRACTXBM_EXE) {
    int pipe_ends[2] = {-1, -1};
    if (setup["gone_reader"] && ::pipe(pipe_ends) == 0) {
        ::close(pipe_ends[0]);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::chdir(dir.c_str());
        ::umask(static_cast<mode_t>(setup.contains("umask") ? setup["umask"] : 022));
        ::dup2(setup["gone_reader"] ? pipe_ends[1] : ::open(".out", O_WRONLY | O_CREAT, 0600), 1);
        ::dup2(::open(".err", O_WRONLY | O_CREAT, 0600), 2);
        for (const auto& [resource, name] :
             {std::pair{RLIMIT_FSIZE, "fsize"}, {RLIMIT_STACK, "stack"}, {RLIMIT_AS, "as"}}) {
            const rlimit limit{setup[name], setup[name]};
            if (limit.rlim_cur != 0) {
                ::setrlimit(resource, &limit);
            }
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        ::execvp(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipe_ends[1]);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / ".out"),
              slurp(dir / ".err"), usage.ru_maxrss};
    fs::remove(dir / ".out");
    fs::remove(dir / ".err");
    return o;
}

// Argument `i`, a plain decimal number.
std::uint32_t number(const std::vector<std::string>& args, std::size_t i) {
    return static_cast<std::uint32_t>(std::stoul(args.at(i)));
}

// The raw PBM that netpbm's xbmtopbm makes of a bitmap: the leftmost pixel in the highest bit.
std::string to_pbm(const CBitmap& drawn) {
    std::string pbm =
        "P4\n" + std::to_string(drawn.width) + " " + std::to_string(drawn.height) + "\n";
    for (const auto& row : drawn.bits.rows) {
        for (const std::uint8_t byte : row) {
            pbm += static_cast<char>((byte * 0x0202020202ULL & 0x010884422010ULL) % 1023);
        }
    }
    return pbm;
}

// xbmtopbm decodes `file` into the pixels the run drew: the fern is the same on every run, the
// triangle is redrawn from each second the run may have seeded rand() with.
void expect_decoded(const fs::path& dir, const std::vector<std::string>& args, std::time_t first) {
    const Outcome pbm = run(dir, {args[0]}, {}, "xbmtopbm");
    if (pbm.status == 127 && std::getenv("CI") == nullptr) {
        GTEST_SKIP() << "xbmtopbm is not installed (Debian package netpbm)";
    }
    ASSERT_EQ(pbm.status, 0) << pbm.err;
    bool same = false;
    for (std::time_t seed = first; seed <= std::time(nullptr) && !same; ++seed) {
        CBitmap drawn(number(args, 2), number(args, 3), false);
        std::srand(static_cast<unsigned>(seed));
        (args[1] == "fern" ? draw_fern : draw_triangle)(drawn,
                                                        args.size() > 4 ? number(args, 4) : 100000);
        same = to_pbm(drawn) == pbm.out;
    }
    EXPECT_TRUE(same) << "xbmtopbm decoded other pixels";
}

struct Case {
    std::string line;
    std::vector<std::string> args;
    int status = 0;
    bool help = false;
    std::string err;
    std::size_t size = 0;
    Conditions setup;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.line;
}

std::vector<Case> read_cases() {
    std::vector<Case> cases;
    std::ifstream file(FRACTXBM_TEST_DATA "/runs.txt");
    for (std::string line; std::getline(file, line);) {
        std::istringstream in(line);
        std::vector<std::string> field;
        for (std::string text; std::getline(in, text, '|');) {
            field.push_back(text.substr(0, text.find_last_not_of(' ') + 1));
            field.back().erase(0, field.back().find_first_not_of(' '));
        }
        if (line.starts_with('#') || field.size() < 5) {
            continue;
        }
        field.resize(6);
        Case c{line, {}, std::stoi(field[1]), field[2] == "yes", field[3], std::stoul(field[4]),
               {}};
        std::istringstream args(field[0]), conditions(field[5]);
        for (std::string arg; args >> arg;) {
            c.args.push_back(arg == "''" ? "" : arg);
        }
        for (std::string word; conditions >> word;) {
            const std::size_t equals = word.find('=');
            c.setup[word.substr(0, equals)] =
                equals == std::string::npos ? 1 : std::stoul(word.substr(equals + 1), nullptr, 0);
        }
        cases.push_back(c);
    }
    return cases;
}

class Runs : public testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        std::string name = "fractxbm_" + std::to_string(::getpid()) + "_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir_ = fs::temp_directory_path() / name;
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "a_directory");
        std::ofstream(dir_ / "keep.xbm") << "precious";
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(Runs, StatusOutputsAndFiles) {
    Case c = GetParam();
#ifdef FRACTXBM_SANITIZED
    if (c.setup.contains("stack") || c.setup.contains("as") || c.setup.contains("footprint")) {
        GTEST_SKIP() << "the sanitizers need more stack and memory, and hold more";
    }
#endif
    const std::time_t start = std::time(nullptr);
    const Outcome o = run(dir_, c.args, c.setup);
    EXPECT_EQ(o.status, c.status) << c.line;
    EXPECT_EQ(o.out, c.help ? slurp(FRACTXBM_TEST_DATA "/help.txt") : "") << c.line;
    if (c.err.ends_with("...")) {
        EXPECT_TRUE(o.err.starts_with(c.err.substr(0, c.err.size() - 3))) << c.line << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << c.line << o.err;
    } else {
        EXPECT_EQ(o.err, c.err.empty() ? "" : c.err + "\n") << c.line;
    }
    const std::string target = c.args.empty() ? "" : c.args[0];
    if (target != "keep.xbm") {
        EXPECT_EQ(slurp(dir_ / "keep.xbm"), "precious") << c.line;
    }
    EXPECT_TRUE(fs::is_empty(dir_ / "a_directory")) << c.line;
    if (c.size == 0) {
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2) << c.line << ": a new file";
        return;
    }
    EXPECT_EQ(slurp(dir_ / target).size(), c.size) << c.line;
    if (c.setup.contains("mode")) {
        EXPECT_EQ(fs::status(dir_ / target).permissions(), fs::perms(c.setup["mode"])) << c.line;
    }
    if (c.setup.contains("decode")) {
        expect_decoded(dir_, c.args, start);
    }
    // What a run holds against the memory check's estimate, above what the smallest run holds.
    if (c.setup.contains("footprint")) {
        const long held =
            (o.peak_kib - run(dir_, {"o.xbm", "fern", "1", "1", "1"}).peak_kib) * 1024;
        const auto estimate =
            static_cast<long>(bitmap_footprint(number(c.args, 2), number(c.args, 3)));
        EXPECT_TRUE(held <= estimate && held >= estimate * 9 / 10) << held << " " << estimate;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Runs, testing::ValuesIn(read_cases()));

}  // namespace
