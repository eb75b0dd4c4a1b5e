// Times whole commands side by side: every round runs each command once, in turn, so that a
// noisy neighbour slows them all alike. Prints a line per command, its label then named fields,
// so that a script reads them by name: the median wall time, the spread, the median peak
// resident memory, and the ratio of its median to the first command's:
//   old fern:  median_ms=3.41 p10_ms=3.30 p90_ms=3.90 peak_kib=3120 ratio=1.06
//
//   fractxbm_runtimes ROUNDS 'label: program arg... [<input] [>output]' ...
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Command {
    std::string label;
    std::vector<std::string> argv;
    std::string input;
    std::string output;
    std::vector<double> seconds;
    std::vector<double> peak_kib;
};

Command parse(const std::string& text) {
    Command command;
    const std::size_t colon = text.find(": ");
    command.label = text.substr(0, colon);
    std::istringstream words(text.substr(colon + 2));
    for (std::string word; words >> word;) {
        if (word[0] == '<') {
            command.input = word.substr(1);
        } else if (word[0] == '>') {
            command.output = word.substr(1);
        } else {
            command.argv.push_back(word);
        }
    }
    return command;
}

bool run(Command& command) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!command.input.empty()) {
            ::dup2(::open(command.input.c_str(), O_RDONLY), 0);
        }
        if (!command.output.empty()) {
            ::dup2(::open(command.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        }
        std::vector<char*> argv;
        for (std::string& word : command.argv) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    command.seconds.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    command.peak_kib.push_back(static_cast<double>(usage.ru_maxrss));
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", command.label.c_str());
        return false;
    }
    return true;
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ROUNDS 'label: command' ...\n", argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    std::vector<Command> commands;
    for (int i = 2; i < argc; ++i) {
        commands.push_back(parse(argv[i]));
    }
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < commands.size(); ++i) {
            // Rotate the order so that no command always runs first, or always after another.
            if (!run(commands[(i + static_cast<std::size_t>(round)) % commands.size()])) {
                return 1;
            }
        }
    }
    const double base = quantile(commands[0].seconds, 0.5);
    for (const Command& c : commands) {
        const double median = quantile(c.seconds, 0.5);
        std::printf(
            "%-24s median_ms=%-9.2f p10_ms=%-9.2f p90_ms=%-9.2f peak_kib=%-9.0f ratio=%.2f\n",
            (c.label + ":").c_str(), median * 1e3, quantile(c.seconds, 0.1) * 1e3,
            quantile(c.seconds, 0.9) * 1e3, quantile(c.peak_kib, 0.5), median / base);
    }
    return 0;
}
