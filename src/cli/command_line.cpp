#include "command_line.hpp"

#include <cstdint>
#include <utility>

namespace {

bool is_c_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// The part of a number argument that read_number looks at: sign and digits, white space skipped.
std::string_view number_part(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && is_c_space(text[begin])) {
        ++begin;
    }
    std::size_t end = begin;
    if (end < text.size() && (text[end] == '+' || text[end] == '-')) {
        ++end;
    }
    while (end < text.size() && is_digit(text[end])) {
        ++end;
    }
    return text.substr(begin, end - begin);
}

// A number argument: its position, its name at the head of a refusal, and the values it may take.
struct NumberParameter {
    int position;
    const char* title;
    std::uint32_t lowest;
    std::uint32_t highest;
    std::uint32_t Options::*field;
};

constexpr NumberParameter kWidth = {3, "Largeur", 1, kMaxSide, &Options::width};
constexpr NumberParameter kHeight = {4, "Hauteur", 1, kMaxSide, &Options::height};
constexpr NumberParameter kIterations = {5, "Nombre d'iterations", 0, UINT32_MAX,
                                         &Options::iterations};

CommandLine refuse(std::string error) {
    return {Options{}, Request::picture, std::move(error)};
}

// The refusal of a number argument, `fault` saying what is wrong with it and `allowed` what it
// may be, before its range. The argument is echoed as typed: what read_number made of it (-5
// read as 4294967291) would only puzzle the person who typed it.
CommandLine refuse_number(const NumberParameter& number, std::string_view typed,
                          std::string_view fault, std::string_view allowed) {
    return refuse("ERREUR: " + std::string(number.title) + " " + std::string(fault) + " :\"" +
                  std::string(typed) + "\" (" + std::string(allowed) + "de " +
                  std::to_string(number.lowest) + " a " + std::to_string(number.highest) + ")");
}

CommandLine out_of_range(const NumberParameter& number, std::string_view typed) {
    return refuse_number(number, typed, "hors limites", "");
}

// The refusal of a number argument that is not a whole number, echoed as typed: read as atoi
// reads it, 1e3 or 12abc would quietly draw a picture of the size it begins with.
CommandLine malformed(const NumberParameter& number, std::string_view typed) {
    return refuse_number(number, typed, "invalide", "un nombre entier ");
}

// What a sole argument asks for: -h, or after "--" any beginning of "help" or "version", as
// GNU tools take an unambiguous abbreviation of a long option; nothing for any other word.
std::optional<Request> option_named(std::string_view word) {
    if (word == "-h") {
        return Request::help;
    }
    if (!word.starts_with("--") || word.size() == 2) {
        return std::nullopt;
    }
    const std::string_view name = word.substr(2);
    for (const auto& [full, request] : {std::pair{std::string_view("help"), Request::help},
                                        std::pair{std::string_view("version"), Request::version}}) {
        if (full.starts_with(name)) {
            return request;
        }
    }
    return std::nullopt;
}

// The request that a sole argument makes, or its refusal, or nothing when it is a file name.
// Alone, a word that looks like an option is far more likely a mistyped one (--hlep) than the
// name of a file to write; such a file is still one "./" away.
std::optional<CommandLine> read_sole_argument(std::string_view sole) {
    if (const std::optional<Request> request = option_named(sole)) {
        return CommandLine{Options{}, *request, {}};
    }
    if (sole.size() > 1 && sole[0] == '-') {
        return refuse("ERREUR: Option non reconnue :\"" + to_string(sole) +
                      "\" (pour un fichier de ce nom, ecrire ./" + to_string(sole) + ")");
    }
    return std::nullopt;
}

// Reads the numbers present into `options`, last first; the refusal of the first bad one.
std::optional<CommandLine> read_numbers(int argc, const char* const* argv, Options& options) {
    for (const NumberParameter& number : {kIterations, kHeight, kWidth}) {
        if (number.position >= argc) {
            continue;
        }
        const std::string_view text = argv[number.position];
        if (!is_whole_number(text)) {
            return malformed(number, text);
        }
        const std::optional<std::uint32_t> value = read_number(text);
        if (!value) {
            return out_of_range(number, text);
        }
        options.*number.field = *value;
    }
    return std::nullopt;
}

// Reads the type, when present, into `options`; the refusal of one that is not drawn.
std::optional<CommandLine> read_type(int argc, const char* const* argv, Options& options) {
    if (argc < 3) {
        return std::nullopt;
    }
    options.type = to_string(argv[2]);
    if (options.type != "triangle" && options.type != "fern") {
        return refuse("ERREUR: Type d'image non pris en charge :\"" + options.type + "\"");
    }
    return std::nullopt;
}

// The refusal of a width or height that the picture cannot have.
std::optional<CommandLine> check_sides(const char* const* argv, const Options& options) {
    for (const NumberParameter& side : {kWidth, kHeight}) {
        const std::uint32_t value = options.*side.field;
        if (value < side.lowest || value > side.highest) {
            return out_of_range(side, argv[side.position]);
        }
    }
    return std::nullopt;
}

}  // namespace

bool is_whole_number(std::string_view text) {
    const std::string_view number = number_part(text);
    const std::size_t sign = !number.empty() && (number[0] == '+' || number[0] == '-') ? 1 : 0;
    return number.size() > sign && number.data() + number.size() == text.data() + text.size();
}

std::optional<std::uint32_t> read_number(std::string_view text) {
    const std::string_view number = number_part(text);
    const bool negative = !number.empty() && number[0] == '-';
    constexpr std::uint64_t kMaxPositive = 4294967295u;
    constexpr std::uint64_t kMaxNegative = 2147483648u;
    const std::uint64_t limit = negative ? kMaxNegative : kMaxPositive;
    std::uint64_t magnitude = 0;
    for (const char c : number) {
        if (!is_digit(c)) {
            continue;  // the sign
        }
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(c - '0');
        if (magnitude > limit) {
            return std::nullopt;
        }
    }
    const auto value = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

CommandLine read_command_line(int argc, const char* const* argv) {
    if (argc == 1) {
        return refuse("ERREUR: Nom de fichier requis");
    }
    if (argc < 1 || argc > 6) {
        return refuse("ERREUR: Trop d'arguments");
    }
    if (argc == 2) {
        if (std::optional<CommandLine> answer = read_sole_argument(argv[1])) {
            return *std::move(answer);
        }
    }
    CommandLine result;
    Options& options = result.options;
    if (std::optional<CommandLine> refusal = read_numbers(argc, argv, options)) {
        return *std::move(refusal);
    }
    if (std::optional<CommandLine> refusal = read_type(argc, argv, options)) {
        return *std::move(refusal);
    }
    if (std::optional<CommandLine> refusal = check_sides(argv, options)) {
        return *std::move(refusal);
    }
    options.file_name = to_string(argv[1]);
    return result;
}

std::string read_environment(const char* source_date_epoch, Options& options) {
    if (source_date_epoch == nullptr || *source_date_epoch == '\0') {
        return {};
    }
    const std::string_view text = source_date_epoch;
    constexpr std::uint64_t kLatest = INT64_MAX;
    std::uint64_t seconds = 0;
    for (const char c : text) {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (!is_digit(c) || seconds > (kLatest - digit) / 10) {
            return "ERREUR: SOURCE_DATE_EPOCH invalide :\"" + std::string(text) +
                   "\" (un nombre entier de 0 a " + std::to_string(kLatest) + ")";
        }
        seconds = seconds * 10 + digit;
    }
    options.epoch = static_cast<std::int64_t>(seconds);
    return {};
}
