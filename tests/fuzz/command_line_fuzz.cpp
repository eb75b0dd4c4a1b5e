// Arbitrary argument vectors through read_command_line, the function main decides with: each is
// either refused with one "ERREUR: " message or accepted with parameters that a run can draw.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.hpp"

namespace {

// The program's name and up to seven arguments.
constexpr std::size_t kMaxArgc = 8;

void require(bool condition, const char* property, const std::vector<std::string>& args) {
    if (condition) {
        return;
    }
    std::fprintf(stderr, "broken: %s; argc %zu:", property, args.size());
    for (const std::string& arg : args) {
        std::fprintf(stderr, " [%s]", arg.c_str());
    }
    std::fprintf(stderr, "\n");
    std::abort();
}

// An independent reading of a number: strtoll's, then the same range and wrap to 32 bits.
std::optional<std::uint32_t> reference_number(const std::string& text) {
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < -2147483648LL || value > 4294967295LL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input is split at its NUL bytes, which no argument can hold; an empty input is argc 0.
    std::vector<std::string> args;
    for (std::size_t begin = 0; size > 0 && begin <= size && args.size() < kMaxArgc;) {
        const auto* end =
            static_cast<const std::uint8_t*>(std::memchr(data + begin, 0, size - begin));
        const std::size_t stop = end ? static_cast<std::size_t>(end - data) : size;
        args.emplace_back(reinterpret_cast<const char*>(data + begin), stop - begin);
        begin = stop + 1;
    }
    // Each argument in a block of its exact size, so that reading past its end is caught.
    std::vector<std::unique_ptr<char[]>> blocks;
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
        blocks.push_back(std::make_unique<char[]>(arg.size() + 1));
        std::memcpy(blocks.back().get(), arg.c_str(), arg.size() + 1);
        argv.push_back(blocks.back().get());
    }
    argv.push_back(nullptr);

    for (const std::string& arg : args) {
        require(read_number(arg) == reference_number(arg), "number read unlike strtoll", args);
    }
    const CommandLine result = read_command_line(static_cast<int>(args.size()), argv.data());
    if (!result.error.empty()) {
        require(result.error.rfind("ERREUR: ", 0) == 0, "refusal without ERREUR: ", args);
        // One line, unless it echoes a type argument that holds line feeds itself.
        const bool echoes_type =
            args.size() >= 3 &&
            result.error == "ERREUR: Type d'image non pris en charge :\"" + args[2] + "\"";
        require(echoes_type || result.error.find('\n') == std::string::npos,
                "refusal on more than one line", args);
        return 0;
    }
    const Options& o = result.options;
    require(args.size() >= 2 && args.size() <= 6, "accepted without a file name or with extras",
            args);
    require(o.file_name == args[1], "file name not taken as typed", args);
    require(o.type == "triangle" || o.type == "fern", "accepted an unknown type", args);
    require(o.width >= 1 && o.width <= kMaxSide, "accepted a width out of range", args);
    require(o.height >= 1 && o.height <= kMaxSide, "accepted a height out of range", args);
    return 0;
}
