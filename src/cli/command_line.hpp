// Reading the command line into the parameters of one run, or into the reason it is refused.
#pragma once

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

// Any value that can be written to a text stream, as that text; an argument comes back unchanged.
// Text is copied as it is: setting up a stream and its locale would cost more than a small run.
template <typename T>
std::string to_string(const T& value) {
    if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return std::string(std::string_view(value));
    } else {
        std::ostringstream stream;
        stream << value;
        return stream.str();
    }
}

// Largest width or height: beyond 2^24 single precision no longer holds every pixel coordinate,
// and the triangle's points could fall past the last column or row.
inline constexpr std::uint32_t kMaxSide = 16777216;

struct Options {
    std::string file_name;
    std::string type = "triangle";
    std::uint32_t width = 1000;
    std::uint32_t height = 1000;
    std::uint32_t iterations = 100000;
    // The second that seeds the triangle in place of the clock's, so that a run can be repeated.
    std::optional<std::int64_t> epoch;
};

// What a command line asks for: a picture, or, given as its sole argument, the help box
// (--help, -h) or the version (--version), the long options also by any beginning (--he, --v).
enum class Request { picture, help, version };

struct CommandLine {
    Options options;
    Request request = Request::picture;
    // Empty when the run may go ahead; otherwise the one "ERREUR: " line that refuses it, to be
    // printed after the help box, the run ending with status 1.
    std::string error;
};

// Positional arguments: file name, then optionally type, width, height and iterations, each
// number a whole one (is_whole_number). --help, -h and --version are requests only as the sole
// argument, where any other word beginning with '-' (but "-" itself) is refused as an unknown
// option; anywhere else they are file names, as is every other text (./--help writes a file of
// that name). `argc` counts the program's name, as main receives it; argv[1..argc-1] are read.
CommandLine read_command_line(int argc, const char* const* argv);

// What SOURCE_DATE_EPOCH (`source_date_epoch`, null when unset) adds to `options`: when set and
// not empty, a whole number of seconds from 0 to 2^63 - 1 in `epoch`. Returns the line that
// refuses any other value, empty when there is none to refuse.
std::string read_environment(const char* source_date_epoch, Options& options);

// Whether `text` is a whole number, as a person means one: white space that atoi skips, an
// optional sign, then at least one digit and nothing but digits up to the end.
bool is_whole_number(std::string_view text);

// Reads a number as atoi does (leading white space, an optional sign, the digits up to the
// first other character, 0 when there are none) and takes it as unsigned 32-bit, so -1 gives
// 4294967295. Values outside -2147483648 to 4294967295 give nothing instead of wrapping.
std::optional<std::uint32_t> read_number(std::string_view text);
