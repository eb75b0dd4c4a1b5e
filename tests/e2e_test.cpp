// Runs the built program as a user would, one line of data/runs.txt at a time (its header says
// what each column holds), and checks its status, outputs and the files it leaves behind.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap/bitmap.hpp"
#include "cli/command_line.hpp"
#include "fractals/fractals.hpp"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

struct Outcome {
    int status = -1;  // the exit status, or -1 for a signal
    std::string out, err;
};

// Runs a line of bash in `dir`, with fractxbm first in PATH, $DATA the folder of test data and
// the clock pinned to FRACTXBM_PINNED_TIME, so that the triangle's seed is known. SHELL is
// pinned too: script(1) runs its command with it, and shells differ in what they print about a
// job killed by a signal. So are the locale, for the causes' words, and the environment's second
// in place of the clock's: a line may set either itself.
Outcome run(const fs::path& dir, const std::string& command) {
    std::ofstream(dir / ".sh")
        << "set -o pipefail\nexport SHELL=/bin/sh LC_ALL=C LD_PRELOAD=" FRACTXBM_PINNED_CLOCK
           "\nunset SOURCE_DATE_EPOCH\nDATA='" FRACTXBM_TEST_DATA "'\nPATH="
        << fs::path(FRACTXBM_EXE).parent_path().string() << ":$PATH\n"
        << command << "\n";
    const int status = std::system(("cd '" + dir.string() + "' && bash .sh >.out 2>.err").c_str());
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / ".out"),
              slurp(dir / ".err")};
    for (const char* name : {".sh", ".out", ".err"}) {
        fs::remove(dir / name);
    }
    return o;
}

// The words of the line's first fractxbm command: the program's arguments.
std::vector<std::string> arguments(const std::string& command) {
    std::istringstream words(command.substr(std::min(command.find("fractxbm "), command.size())));
    std::vector<std::string> args;
    for (std::string word; words >> word && word != "&&";) {
        args.push_back(word == "''" ? "" : word);
    }
    args.erase(args.begin(), args.begin() + (args.empty() ? 0 : 1));
    return args;
}

// The byte with its eight bits in the opposite order.
char reversed_bits(std::uint8_t byte) {
    return static_cast<char>((byte * 0x0202020202ULL & 0x010884422010ULL) % 1023);
}

// What xbmtopbm makes of the pixels that `args` drew under the pinned clock, as raw PBM, which
// keeps the leftmost pixel in the highest bit where XBM keeps it in the lowest.
std::string redrawn(const std::vector<std::string>& args) {
    const auto number = [&](std::size_t i) {
        return static_cast<std::uint32_t>(i < args.size() ? std::stoul(args[i]) : 100000);
    };
    CBitmap drawn(number(2), number(3), false);
    seed_triangle(FRACTXBM_PINNED_TIME);
    (args[1] == "fern" ? draw_fern : draw_triangle)(drawn, number(4), nullptr, {});
    std::string pbm = "P4\n" + args[2] + " " + args[3] + "\n";
    for (const auto& row : drawn.bits.rows) {
        std::transform(row.begin(), row.end(), std::back_inserter(pbm), reversed_bits);
    }
    return pbm;
}

std::vector<std::string> read_lines() {
    std::vector<std::string> lines;
    std::ifstream file(FRACTXBM_TEST_DATA "/runs.txt");
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && (!line.starts_with('#') || line.starts_with("## "))) {
            lines.push_back(line);
        }
    }
    return lines;
}

// A line's name, command and the columns after its last four bars, without their spaces.
std::array<std::string, 6> columns(const std::string& line) {
    std::array<std::string, 6> field;
    const std::size_t first = line.find('|');
    field[0] = line.substr(0, first);
    field[1] = line.substr(first + 1);
    for (std::size_t i = 5; i > 1; --i) {
        const std::size_t bar = field[1].rfind('|');
        field[i] = field[1].substr(bar + 1);
        field[1].erase(bar);
    }
    for (std::string& column : field) {
        column.erase(column.find_last_not_of(' ') + 1);
        column.erase(0, column.find_first_not_of(' '));
    }
    return field;
}

// The first line of `text` that holds `word` ("" for any line), without its newline.
std::string line_with(const std::string& text, const std::string& word = "") {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.find(word) != std::string::npos) {
            return line;
        }
    }
    return "";
}

// What a facility of the kernel is, and the least line of bash that proves this place grants it.
// No `what`: the tag names a command, which the probe looks for on PATH.
struct Facility {
    std::string what, probe;
};

std::map<std::string, Facility>& facilities() {
    static std::map<std::string, Facility> known;
    return known;
}

// Why a run that needs `tags` cannot go ahead here, "" if it can: the first facility that the
// probe finds refused, or the first tag of no facility that names no command on PATH. Each tag is
// probed once per process, in an empty folder of its own.
std::string refusal(const std::vector<std::string>& tags) {
    static std::map<std::string, std::string> probed;
    for (const std::string& tag : tags) {
        if (!probed.contains(tag)) {
            const auto known = facilities().find(tag);
            const Facility facility = known != facilities().end()
                                          ? known->second
                                          : Facility{"", "command -v '" + tag + "' >/dev/null"};
            const fs::path dir = fs::temp_directory_path() /
                                 ("fractxbm_probe_" + std::to_string(::getpid()) + "_" + tag);
            fs::create_directories(dir);
            const Outcome o = run(dir, facility.probe);
            fs::remove_all(dir);
            probed[tag] = o.status == 0 ? ""
                          : facility.what.empty()
                              ? "needs the command " + tag + ": not found"
                              : "needs " + facility.what + ": " + line_with(o.err);
        }
        if (!probed[tag].empty()) {
            return probed[tag];
        }
    }
    return "";
}

// Skips a run that this place cannot make, except under CI, which must never pass by checking
// less.
void cannot_run_here(const std::string& why) {
    if (std::getenv("CI") != nullptr) {
        FAIL() << why;
    }
    GTEST_SKIP() << why;
}

// Longer than any text a run writes over it here, so that a file not truncated shows.
const std::string kPrecious(1000, '#');

// One line of the table, run in a folder of its own that holds keep.xbm and an empty
// a_directory/.
class Run : public testing::Test {
  public:
    Run(std::array<std::string, 6> field, std::vector<std::string> tags)
        : field_(std::move(field)), tags_(std::move(tags)) {}

  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("fractxbm_" + std::to_string(::getpid()));
        fs::create_directories(dir_ / "a_directory");
        std::ofstream(dir_ / "keep.xbm") << kPrecious;
    }
    void TearDown() override { fs::remove_all(dir_); }
    void TestBody() override;

  private:
    std::array<std::string, 6> field_;
    std::vector<std::string> tags_;
    fs::path dir_;
};

void Run::TestBody() {
    const std::string &command = field_[1], &out = field_[3], &err = field_[4];
    if (FRACTXBM_SANITIZED &&
        std::regex_search(command, std::regex("ulimit -[sv]|unshare|strace"))) {
        GTEST_SKIP() << "the sanitizers need more stack and address space, /proc, and writes and "
                        "ptrace of their own";
    }
    if (const std::string why = refusal(tags_); !why.empty()) {
        return cannot_run_here(why);
    }
    SCOPED_TRACE(command);
    const Outcome o = run(dir_, command);
    const std::vector<std::string> args = arguments(command);
    // Checked whatever the status: in a pipeline, the next command's failure hides the 127.
    if (const std::string missing = line_with(o.err + o.out, "not found"); !missing.empty()) {
        return cannot_run_here("needs a command: " + missing);
    }
    EXPECT_EQ(o.status, std::stoi(field_[2]));
    const std::string box = slurp(FRACTXBM_TEST_DATA "/help.txt");
    EXPECT_EQ(o.out, out == "help"    ? box
                     : out == "usage" ? box + slurp(FRACTXBM_TEST_DATA "/usage.txt")
                     : out == "pbm"   ? redrawn(args)
                     : out.empty()    ? ""
                                      : out + "\n");
    EXPECT_EQ(o.err, err.empty() ? "" : err + "\n");
    const std::string target = args.empty() ? "" : args[0];
    const std::size_t size = std::stoul(field_[5]);
    EXPECT_TRUE((target == "keep.xbm" && size != 0) || slurp(dir_ / "keep.xbm") == kPrecious);
    if (size == 0) {
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 2) << "a new file is left";
    } else {
        EXPECT_EQ(slurp(dir_ / target).size(), size);
    }
}

// Each line of the table becomes the test Suite.name, Suite being the "## " heading above it; a
// line "[tag] what | probe" defines a facility instead.
const bool g_registered = [] {
    std::string suite = "Runs";
    for (const std::string& line : read_lines()) {
        if (line.starts_with("## ")) {
            suite = line.substr(3);
            continue;
        }
        if (line.starts_with('[')) {
            const std::size_t close = line.find(']'), bar = line.find('|');
            facilities()[line.substr(1, close - 1)] = {line.substr(close + 2, bar - close - 3),
                                                       line.substr(bar + 2)};
            continue;
        }
        std::array<std::string, 6> field = columns(line);
        std::vector<std::string> tags;
        if (const std::size_t open = field[0].find('['); open != std::string::npos) {
            std::istringstream words(field[0].substr(open + 1, field[0].find(']') - open - 1));
            tags.assign(std::istream_iterator<std::string>(words), {});
            field[0].erase(field[0].find_last_not_of(' ', open - 1) + 1);
        }
        testing::RegisterTest(suite.c_str(), field[0].c_str(), nullptr, nullptr, __FILE__, __LINE__,
                              [field, tags]() -> testing::Test* { return new Run(field, tags); });
    }
    return true;
}();

// What no shell passes: white space other than spaces in a number, and no argument at all, not
// even the program's name.
TEST(ReadCommandLine, WhatNoShellPasses) {
    EXPECT_EQ(read_number(" \t\n\v\f\r42"), 42u);
    EXPECT_TRUE(is_whole_number(" \t\n\v\f\r42"));
    EXPECT_EQ(read_command_line(0, nullptr).error, "ERREUR: Trop d'arguments");
}

}  // namespace
