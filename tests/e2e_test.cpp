// Runs the built program as a user would, one run of data/runs.txt at a time (its header says how
// a run is written), and checks its status, outputs and the files it leaves behind.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

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

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// What every run's bash starts with: fractxbm first in PATH, $DATA the test data, the clock
// pinned so that the triangle's seed is known. SHELL is pinned too: script(1) runs its command
// with it, and shells differ in what they say of a job killed by a signal; so is the locale, for
// the causes' words. $OTHER runs a command as user nobody, without the preloaded clock, which may
// lie where nobody may not go. `inject CALL FAULT COMMAND...`: COMMAND with CALL failing as FAULT
// says.
const std::string kPrelude = "set -o pipefail\nexport SHELL=/bin/sh LC_ALL=C LD_PRELOAD=" +
                             std::string(FRACTXBM_PINNED_CLOCK) +
                             " PATH=" + fs::path(FRACTXBM_EXE).parent_path().string() + R"(:$PATH
unset SOURCE_DATE_EPOCH
DATA=')" FRACTXBM_TEST_DATA R"('
OTHER='env LD_PRELOAD= setpriv --reuid=65534 --regid=65534 --clear-groups'
inject() { strace -o /dev/null -e trace=$1 -e inject=$1:$2 "${@:3}"; }
export -f inject
)";

struct Outcome {
    int status = -1;  // the exit status, or -1 for a signal
    std::string out, err;
};

// Runs bash `command` in `dir`, after the prelude.
Outcome run(const fs::path& dir, const std::string& command) {
    std::ofstream(dir / ".sh") << kPrelude << command << "\n";
    const int status = std::system(("cd '" + dir.string() + "' && bash .sh >.out 2>.err").c_str());
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / ".out"),
              slurp(dir / ".err")};
    for (const char* name : {".sh", ".out", ".err"}) {
        fs::remove(dir / name);
    }
    return o;
}

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(" \n") + 1);
    return text.erase(0, text.find_first_not_of(" \n"));
}

// Each facility that runs.txt defines: what it is, and the bash that proves this place grants it.
std::map<std::string, std::pair<std::string, std::string>> g_facilities;

// Why a run that needs `tags` cannot go ahead here, "" if it can: the first facility refused, or
// the first tag of no facility that names no command on PATH. Each tag is probed once, in an empty
// folder of its own.
std::string refusal(const std::vector<std::string>& tags) {
    static std::map<std::string, std::string> probed;
    for (const std::string& tag : tags) {
        if (!probed.contains(tag)) {
            const auto [what, probe] = g_facilities.contains(tag)
                                           ? g_facilities[tag]
                                           : std::pair{"the command " + tag, "command -v " + tag};
            const fs::path dir = fs::temp_directory_path() /
                                 ("fractxbm_probe_" + std::to_string(::getpid()) + "_" + tag);
            fs::create_directories(dir);
            const Outcome o = run(dir, probe);
            fs::remove_all(dir);
            probed[tag] =
                o.status == 0 ? "" : "needs " + what + ": " + o.err.substr(0, o.err.find('\n'));
        }
        if (!probed[tag].empty()) {
            return probed[tag];
        }
    }
    return "";
}

// Longer than any text a run writes over it here, so that a file not truncated shows.
const std::string kPrecious(1000, '#');

// A run: its name, command, status, output, error and bytes, and what it needs.
class Run : public testing::Test {
  public:
    Run(std::array<std::string, 6> field, std::vector<std::string> tags)
        : field_(std::move(field)), tags_(std::move(tags)) {}
    void TestBody() override;

  private:
    std::array<std::string, 6> field_;
    std::vector<std::string> tags_;
};

void Run::TestBody() {
    const std::string &command = field_[1], &out = field_[3], &err = field_[4];
    if (FRACTXBM_SANITIZED &&
        std::regex_search(command, std::regex("ulimit -[sv]|unshare|strace|inject"))) {
        GTEST_SKIP() << "the sanitizers need more stack and address space, /proc, and writes and "
                        "ptrace of their own";
    }
    std::string why = refusal(tags_);
    const fs::path dir = fs::temp_directory_path() / ("fractxbm_" + std::to_string(::getpid()));
    fs::create_directories(dir / "d");
    std::ofstream(dir / "keep.xbm") << kPrecious;
    SCOPED_TRACE(command);
    const Outcome o = why.empty() ? run(dir, command) : Outcome{};
    // Whatever the status: in a pipeline, the next command's failure hides the 127.
    const std::string said = o.err + o.out;
    std::smatch missing;
    if (std::regex_search(said, missing, std::regex(".*not found"))) {
        why = "needs a command: " + missing.str();
    }
    if (!why.empty()) {
        fs::remove_all(dir);
        if (std::getenv("CI") != nullptr) {
            FAIL() << why;  // CI must never pass by checking less
        }
        GTEST_SKIP() << why;
    }
    EXPECT_EQ(o.status, std::stoi(field_[2]));
    std::istringstream files(out.starts_with('<') ? out.substr(1) : "");
    std::string expected = out.empty() || out.starts_with('<') ? "" : out + "\n";
    for (std::string file; files >> file;) {
        expected += slurp(FRACTXBM_TEST_DATA "/" + file);
    }
    EXPECT_EQ(o.out, expected);
    EXPECT_EQ(o.err, err.empty() ? "" : err + "\n");
    // The file that the first fractxbm names.
    std::istringstream words(command.substr(std::min(command.find("fractxbm "), command.size())));
    std::string program, name;
    words >> program >> name;
    const std::size_t size = std::stoul(field_[5]);
    EXPECT_TRUE((name == "keep.xbm" && size != 0) || slurp(dir / "keep.xbm") == kPrecious);
    if (size == 0) {
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), {}), 2) << "a new file is left";
    } else {
        EXPECT_EQ(slurp(dir / name).size(), size);
    }
    fs::remove_all(dir);
}

// Each run becomes the test Suite.name, under the "## Suite" heading above it. A line continues
// in its indented lines, after a line end or in place of its closing backslash.
const bool g_registered = [] {
    std::vector<std::string> lines;
    std::ifstream file(FRACTXBM_TEST_DATA "/runs.txt");
    for (std::string line; std::getline(file, line);) {
        if (line.starts_with(' ') && !lines.empty()) {
            lines.back().back() == '\\' ? lines.back().pop_back() : lines.back().push_back('\n');
            lines.back() += trimmed(line);
        } else if (!line.empty() && (line[0] != '#' || line.starts_with("## "))) {
            lines.push_back(line);
        }
    }
    std::string suite;
    for (const std::string& line : lines) {
        const std::size_t bar = line.find('|'), open = line.find('['), close = line.find(']');
        std::istringstream words(open < bar ? line.substr(open + 1, close - open - 1) : "");
        std::vector<std::string> tags(std::istream_iterator<std::string>(words), {});
        if (line.starts_with("## ")) {
            suite = line.substr(3);
        } else if (open == 0) {
            g_facilities[tags[0]] = {trimmed(line.substr(close + 1, bar - close - 1)),
                                     line.substr(bar + 1)};
        } else {
            std::array<std::string, 6> field;  // name, command, and the last four columns
            std::string rest = line.substr(bar + 1);
            for (std::size_t i = 5; i > 1; rest.erase(rest.rfind('|')), --i) {
                field[i] = trimmed(rest.substr(rest.rfind('|') + 1));
            }
            field[0] = trimmed(line.substr(0, std::min(bar, open)));
            field[1] = trimmed(rest);
            testing::RegisterTest(
                suite.c_str(), field[0].c_str(), nullptr, nullptr, __FILE__, __LINE__,
                [=] { return static_cast<testing::Test*>(new Run(field, tags)); });
        }
    }
    return true;
}();

}  // namespace
