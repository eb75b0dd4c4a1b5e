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

struct NumberParameter {
    int position;
    const char* name;   // for "Nombre hors limites pour la largeur"
    const char* title;  // for "Largeur hors limites"
    std::uint32_t Options::*field;
};

constexpr NumberParameter kWidth = {3, "la largeur", "Largeur", &Options::width};
constexpr NumberParameter kHeight = {4, "la hauteur", "Hauteur", &Options::height};
constexpr NumberParameter kIterations = {5, "le nombre d'iterations", "Nombre d'iterations",
                                         &Options::iterations};

CommandLine refuse(std::string error) {
    return {Options{}, Request::picture, std::move(error)};
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
            return refuse("ERREUR: Nombre hors limites pour " + std::string(number.name) + " :\"" +
                          std::string(number_part(text)) + "\" (de -2147483648 a 4294967295)");
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
        if (value < 1 || value > kMaxSide) {
            return refuse("ERREUR: " + std::string(side.title) + " hors limites : " +
                          std::to_string(value) + " (de 1 a " + std::to_string(kMaxSide) + ")");
        }
    }
    options.file_name = to_string(argv[1]);
    return result;
}
