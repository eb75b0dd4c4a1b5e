#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A command line, its arguments after the program's name split at spaces ("_" stands for a space
// within one, "~" for an empty one), then " = " and what it reads as: the refusal without its
// "ERREUR: " and the range after it, the request, or "file type width height iterations".
class ReadCommandLine : public testing::TestWithParam<std::string> {};

TEST_P(ReadCommandLine, ReadsOrRefusesAsTyped) {
    const std::size_t equals = GetParam().find(" = ");
    std::vector<std::string> args;
    args.reserve(8);  // no argument moves once argv points to it
    std::vector<const char*> argv = {"fractxbm"};
    std::istringstream words(GetParam().substr(0, equals));
    for (std::string word; std::getline(words, word, ' ');) {
        std::replace(word.begin(), word.end(), '_', ' ');
        argv.push_back(args.emplace_back(word == "~" ? "" : word).c_str());
    }
    const CommandLine line = read_command_line(static_cast<int>(argv.size()), argv.data());
    const Options& o = line.options;
    EXPECT_EQ(!line.error.empty()             ? line.error.substr(8, line.error.find(" (") - 8)
              : line.request == Request::help ? "help"
              : line.request == Request::version
                  ? "version"
                  : o.file_name + " " + o.type + " " + std::to_string(o.width) + " " +
                        std::to_string(o.height) + " " + std::to_string(o.iterations),
              GetParam().substr(equals + 3));
}

// Each accepted range on both sides of both its ends; the forms of a number that atoi reads and
// a person means (sign, white space first, negative from 2^32); what only looks like a number;
// a word alone as an option, and the same word anywhere else as a file name.
INSTANTIATE_TEST_SUITE_P(
    EveryBoundaryAndForm, ReadCommandLine,
    testing::Values(
        "o = o triangle 1000 1000 100000", "o fern 1 1 0 = o fern 1 1 0",
        "o fern 16777216 16777216 4294967295 = o fern 16777216 16777216 4294967295",
        "o fern 0 1 = Largeur hors limites :\"0\"", "o fern 1 0 = Hauteur hors limites :\"0\"",
        "o fern 16777217 = Largeur hors limites :\"16777217\"",
        "o fern 1 16777217 = Hauteur hors limites :\"16777217\"",
        "o fern 1 1 4294967296 = Nombre d'iterations hors limites :\"4294967296\"",
        "o fern -1 = Largeur hors limites :\"-1\"",
        "o fern 1 99999999999999999999 = Hauteur hors limites :\"99999999999999999999\"",
        "o fern 10 -5 -1 = Hauteur hors limites :\"-5\"",
        "o fern 1 1 -2147483649 = Nombre d'iterations hors limites :\"-2147483649\"",
        "o fern 1 1 -2147483648 = o fern 1 1 2147483648",
        "o fern +7 _0016 -1 = o fern 7 16 4294967295", "o fern 8 8 \t\n\v\f\r-0 = o fern 8 8 0",
        "o fern 1e3 = Largeur invalide :\"1e3\"", "o fern 12abc = Largeur invalide :\"12abc\"",
        "o fern 12_ = Largeur invalide :\"12 \"", "o fern - = Largeur invalide :\"-\"",
        "o fern 8 +-8 = Hauteur invalide :\"+-8\"", "o fern 8 0x10 = Hauteur invalide :\"0x10\"",
        "o fern 8 8 1.5 = Nombre d'iterations invalide :\"1.5\"",
        "o fern 8 8 ~ = Nombre d'iterations invalide :\"\"", " = Nom de fichier requis",
        "o fern 1 1 1 x = Trop d'arguments", "o Fern = Type d'image non pris en charge :\"Fern\"",
        "--help = help", "-h = help", "--h = help", "--version = version", "--v = version",
        "--hlep = Option non reconnue :\"--hlep\"",
        "--versions = Option non reconnue :\"--versions\"", "-- = Option non reconnue :\"--\"",
        "- = - triangle 1000 1000 100000", "./--help = ./--help triangle 1000 1000 100000",
        "-h fern 8 1 0 = -h fern 8 1 0"));

// No argument at all, not even the program's name, as no shell passes.
TEST(ReadCommandLineWithout, AnyArgumentIsTooMany) {
    EXPECT_EQ(read_command_line(0, nullptr).error, "ERREUR: Trop d'arguments");
}

// SOURCE_DATE_EPOCH: unset or empty leaves the clock; 0 to 2^63 - 1 seconds, nothing else: each
// case "value=seconds", nothing after "=" for a refusal.
TEST(ReadEnvironment, TakesSecondsUpTo2Pow63Minus1) {
    Options unset;
    EXPECT_EQ(read_environment(nullptr, unset) + (unset.epoch ? "epoch" : ""), "");
    for (const std::string case_ : {"=", "0=0", "9223372036854775807=9223372036854775807",
                                    "9223372036854775808=", "-1=", "12s=", "abc="}) {
        const std::string typed = case_.substr(0, case_.find('=')),
                          read = case_.substr(typed.size() + 1);
        Options options;
        EXPECT_EQ(read_environment(typed.c_str(), options),
                  read.empty() && !typed.empty()
                      ? "ERREUR: SOURCE_DATE_EPOCH invalide :\"" + typed +
                            "\" (un nombre entier de 0 a 9223372036854775807)"
                      : "");
        EXPECT_EQ(options.epoch ? std::to_string(*options.epoch) : "", read);
    }
}

}  // namespace
