#include "command_line.hpp"

#include <cstdint>

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

// The argument is echoed as typed: what read_number made of it (-5 read as 4294967291) would
// only puzzle the person who typed it.
CommandLine out_of_range(const NumberParameter& number, std::string_view typed) {
    return refuse("ERREUR: " + std::string(number.title) + " hors limites :\"" +
                  std::string(typed) + "\" (de " + std::to_string(number.lowest) + " a " +
                  std::to_string(number.highest) + ")");
}

}  // namespace

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
        const std::string_view sole = argv[1];
        if (sole == "--help" || sole == "-h") {
            return {Options{}, Request::help, {}};
        }
        if (sole == "--version") {
            return {Options{}, Request::version, {}};
        }
        // Alone, a word that looks like an option is far more likely a mistyped one (--hlep)
        // than the name of a file to write; such a file is still one "./" away.
        if (sole.size() > 1 && sole[0] == '-') {
            return refuse("ERREUR: Option non reconnue :\"" + to_string(sole) +
                          "\" (pour un fichier de ce nom, ecrire ./" + to_string(sole) + ")");
        }
    }
    CommandLine result;
    Options& options = result.options;
    for (const NumberParameter& number : {kIterations, kHeight, kWidth}) {
        if (number.position >= argc) {
            continue;
        }
        const std::string_view text = argv[number.position];
        const std::optional<std::uint32_t> value = read_number(text);
        if (!value) {
            return out_of_range(number, text);
        }
        options.*number.field = *value;
    }
    if (argc >= 3) {
        options.type = to_string(argv[2]);
        if (options.type != "triangle" && options.type != "fern") {
            return refuse("ERREUR: Type d'image non pris en charge :\"" + options.type + "\"");
        }
    }
    for (const NumberParameter& side : {kWidth, kHeight}) {
        const std::uint32_t value = options.*side.field;
        if (value < side.lowest || value > side.highest) {
            return out_of_range(side, argv[side.position]);
        }
    }
    options.file_name = to_string(argv[1]);
    return result;
}
