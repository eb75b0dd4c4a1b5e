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
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

std::string trimmed(std::string text) {
    text.erase(text.find_last_not_of(" \n") + 1);
    return text.erase(0, text.find_first_not_of(" \n"));
}

// Before every run: fractxbm first in PATH, $DATA the test data, the clock pinned for the
// triangle's seed, SHELL (script(1) runs it; shells differ in what they say of a killed job) and
// the locale (the causes' words). $OTHER runs a command as user nobody, without the pinned clock
// (it may lie where nobody may not go); `inject CALL FAULT COMMAND...` has CALL fail as FAULT says.
const std::string kPrelude = "set -o pipefail\nexport SHELL=/bin/sh LC_ALL=C LD_PRELOAD=" +
                             std::string(FRACTXBM_PINNED_CLOCK) +
                             " PATH=" + fs::path(FRACTXBM_EXE).parent_path().string() + R"(:$PATH
unset SOURCE_DATE_EPOCH
DATA=')" FRACTXBM_TEST_DATA R"('
OTHER='env LD_PRELOAD= setpriv --reuid=65534 --regid=65534 --clear-groups'
inject() { strace -o /dev/null -e trace=$1 -e inject=$1:$2 "${@:3}"; }
export -f inject
)";

// Runs bash `command` in `dir`: its exit status (-1 for a signal), output and error.
std::tuple<int, std::string, std::string> run(const fs::path& dir, const std::string& command) {
    std::ofstream(dir / ".sh") << kPrelude << command << "\n";
    const int status = std::system(("cd '" + dir.string() + "' && bash .sh >.out 2>.err").c_str());
    std::tuple result{WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir / ".out"),
                      slurp(dir / ".err")};
    for (const char* name : {".sh", ".out", ".err"}) {
        fs::remove(dir / name);
    }
    return result;
}

// Each facility of runs.txt: what it is, and the bash that shows this place grants it.
std::map<std::string, std::pair<std::string, std::string>> g_facilities;

// Why a run that needs `tags` cannot go ahead here, "" if it can: the first facility refused, or
// the first tag of no facility that names no command on PATH.
std::string refusal(const std::vector<std::string>& tags) {
    for (const std::string& tag : tags) {
        const auto [what, probe] = g_facilities.contains(tag)
                                       ? g_facilities[tag]
                                       : std::pair{"the command " + tag, "command -v " + tag};
        const fs::path dir =
            fs::temp_directory_path() / ("fractxbm_probe_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        const auto [status, out, err] = run(dir, probe);
        fs::remove_all(dir);
        if (status != 0) {
            return "needs " + what + ": " + err.substr(0, err.find('\n'));
        }
    }
    return "";
}

// Longer than any text a run writes over it here, so that a file not truncated shows.
const std::string kPrecious(1000, '#');

// A run: name, command, status, output, error, bytes; and what it needs.
struct Run : testing::Test {
    std::array<std::string, 6> field_;
    std::vector<std::string> tags_;
    void TestBody() override;
};

void Run::TestBody() {
    const std::string& command = field_[1];
    if (FRACTXBM_SANITIZED &&
        std::regex_search(command, std::regex("ulimit -[svu]|unshare|strace|inject"))) {
        GTEST_SKIP() << "the sanitizers need more stack, address space, threads, /proc, ptrace";
    }
    std::string why = refusal(tags_);
    const fs::path dir = fs::temp_directory_path() / ("fractxbm_" + std::to_string(::getpid()));
    fs::create_directories(dir / "d");
    std::ofstream(dir / "keep.xbm") << kPrecious;
    SCOPED_TRACE(command);
    const auto [status, out, err] =
        why.empty() ? run(dir, command) : std::tuple<int, std::string, std::string>{};
    std::smatch missing;  // looked for whatever the status: in a pipeline, another hides the 127
    const std::string said = err + out;
    if (std::regex_search(said, missing, std::regex(".*not found"))) {
        why = "needs a command: " + missing.str();
    }
    std::istringstream words(command.substr(std::min(command.find("fractxbm "), command.size())));
    std::string program, name;  // the file that the first fractxbm names
    words >> program >> name;
    const std::size_t size = std::stoul(field_[5]);
    const bool kept = slurp(dir / "keep.xbm") == kPrecious,
               made_none = std::distance(fs::directory_iterator(dir), {}) == 2;
    const std::size_t written = size == 0 ? 0 : slurp(dir / name).size();
    fs::remove_all(dir);
    if (!why.empty() && std::getenv("CI") != nullptr) {
        FAIL() << why;  // CI must never pass by checking less
    } else if (!why.empty()) {
        GTEST_SKIP() << why;
    }
    EXPECT_EQ(status, std::stoi(field_[2]));
    EXPECT_EQ(out, field_[3].starts_with('<')
                       ? slurp(FRACTXBM_TEST_DATA "/" + trimmed(field_[3].substr(1)))
                   : field_[3].empty() ? ""
                                       : field_[3] + "\n");
    EXPECT_EQ(err, field_[4].empty() ? "" : field_[4] + "\n");
    EXPECT_TRUE((name == "keep.xbm" && size != 0) || kept) << "keep.xbm changed";
    EXPECT_TRUE(size == 0 ? made_none : written == size)
        << "a new file left, or " << written << " bytes";
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
            testing::RegisterTest(suite.c_str(), field[0].c_str(), nullptr, nullptr, __FILE__,
                                  __LINE__, [=]() -> testing::Test* {
                                      auto* run = new Run;
                                      run->field_ = field;
                                      run->tags_ = tags;
                                      return run;
                                  });
        }
    }
    return true;
}();

}  // namespace
