#include "cli/command_line.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct NumberCase {
    const char* text;
    std::optional<std::uint32_t> value;
};

class ReadNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumber, ReadsLikeAtoiAndRefusesWhatAtoiLeavesUndefined) {
    EXPECT_EQ(read_number(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadNumber,
    testing::Values(NumberCase{"1000", 1000}, NumberCase{"12abc", 12}, NumberCase{"abc", 0},
                    NumberCase{"", 0}, NumberCase{" \t\n\v\f\r42", 42}, NumberCase{"+7", 7},
                    NumberCase{"-", 0}, NumberCase{"- 5", 0}, NumberCase{"+-5", 0},
                    NumberCase{"-0", 0}, NumberCase{"-1", 4294967295u},
                    NumberCase{"-2147483648", 2147483648u}, NumberCase{"4294967295", 4294967295u},
                    NumberCase{"00000000000000000000000016", 16},
                    NumberCase{"-2147483649", std::nullopt}, NumberCase{"4294967296", std::nullopt},
                    NumberCase{"99999999999999999999999999", std::nullopt}, NumberCase{"1e3", 1},
                    NumberCase{"0x10", 0}));

struct ArgumentsCase {
    std::vector<const char*> argv;  // the program's name included
    Options expected;               // compared when error is empty
    std::string error;
};

class ReadCommandLine : public testing::TestWithParam<ArgumentsCase> {};

std::string joined(const std::vector<const char*>& argv) {
    std::string text;
    for (const char* arg : argv) {
        text += std::string("[") + arg + "]";
    }
    return text;
}

TEST_P(ReadCommandLine, AcceptsOrRefusesWithOneMessage) {
    const ArgumentsCase& c = GetParam();
    const CommandLine result = read_command_line(static_cast<int>(c.argv.size()), c.argv.data());
    EXPECT_EQ(result.error, c.error) << joined(c.argv);
    if (c.error.empty()) {
        const Options& o = result.options;
        EXPECT_EQ(o.file_name, c.expected.file_name) << joined(c.argv);
        EXPECT_EQ(o.type, c.expected.type) << joined(c.argv);
        EXPECT_EQ(o.width, c.expected.width) << joined(c.argv);
        EXPECT_EQ(o.height, c.expected.height) << joined(c.argv);
        EXPECT_EQ(o.iterations, c.expected.iterations) << joined(c.argv);
    }
}

const std::string kTooMany = "ERREUR: Trop d'arguments";

INSTANTIATE_TEST_SUITE_P(
    Arguments, ReadCommandLine,
    testing::Values(
        ArgumentsCase{{}, {}, kTooMany},
        ArgumentsCase{{"fractxbm"}, {}, "ERREUR: Nom de fichier requis"},
        ArgumentsCase{{"f", "out.xbm"}, {"out.xbm", "triangle", 1000, 1000, 100000}, ""},
        ArgumentsCase{{"f", "-", "fern"}, {"-", "fern", 1000, 1000, 100000}, ""},
        ArgumentsCase{{"f", "a", "fern", "200", "300"}, {"a", "fern", 200, 300, 100000}, ""},
        ArgumentsCase{{"f", "", "triangle", "12abc", "16777216", "-1"},
                      {"", "triangle", 12, 16777216, 4294967295u},
                      ""},
        ArgumentsCase{{"f", "a", "triangle", "1", "1", "0"}, {"a", "triangle", 1, 1, 0}, ""},
        ArgumentsCase{{"f", "a", "fern", "1", "1", "1", "1"}, {}, kTooMany},
        ArgumentsCase{{"f", "a", "Fern"}, {}, "ERREUR: Type d'image non pris en charge :\"Fern\""},
        ArgumentsCase{
            {"f", "a", "TRIANGLE"}, {}, "ERREUR: Type d'image non pris en charge :\"TRIANGLE\""},
        ArgumentsCase{{"f", "a", ""}, {}, "ERREUR: Type d'image non pris en charge :\"\""},
        ArgumentsCase{
            {"f", "a", "fern", "abc"}, {}, "ERREUR: Largeur hors limites : 0 (de 1 a 16777216)"},
        ArgumentsCase{{"f", "a", "fern", "16777217"},
                      {},
                      "ERREUR: Largeur hors limites : 16777217 (de 1 a 16777216)"},
        ArgumentsCase{{"f", "a", "fern", "5", "-1"},
                      {},
                      "ERREUR: Hauteur hors limites : 4294967295 (de 1 a 16777216)"},
        ArgumentsCase{{"f", "a", "fern", " 4294967296x"},
                      {},
                      "ERREUR: Nombre hors limites pour la largeur :\"4294967296\" (de "
                      "-2147483648 a 4294967295)"},
        ArgumentsCase{{"f", "a", "fern", "5", "5", "-2147483649"},
                      {},
                      "ERREUR: Nombre hors limites pour le nombre d'iterations "
                      ":\"-2147483649\" (de -2147483648 a 4294967295)"}));

}  // namespace
