// Runs the built program as a user would and checks status, standard output, standard error and
// the file it leaves behind.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "bitmap/bitmap.hpp"
#include "cli/memory.hpp"
#include "fractals/fractals.hpp"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status = -1;  // exit status, or -1 when the program did not exit normally
    std::string out;
    std::string err;
};

std::string slurp(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class Run : public testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("fractxbm_e2e_" + std::to_string(::getpid()) + "_" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path path(const std::string& name) const { return dir_ / name; }

    // The names in the test's directory, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    // Runs fractxbm with these arguments in the test's own directory; a file-size limit in bytes
    // applies to the program alone when given.
    Outcome run(const std::vector<std::string>& args,
                std::optional<rlim_t> file_size_limit = std::nullopt) const {
        return run_program(FRACTXBM_EXE, args, file_size_limit);
    }

    // The same for any program, looked up in PATH when its name has no slash. Status 127 means
    // it could not be started.
    Outcome run_program(const std::string& program, const std::vector<std::string>& args,
                        std::optional<rlim_t> file_size_limit = std::nullopt) const {
        const fs::path out = path(".stdout"), err = path(".stderr");
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir_.c_str()) != 0) {
                ::_exit(126);
            }
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            if (file_size_limit) {
                const rlimit limit{*file_size_limit, *file_size_limit};
                ::setrlimit(RLIMIT_FSIZE, &limit);
            }
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            ::execvp(program.c_str(), argv.data());
            ::_exit(127);
        }
        int wait_status = 0;
        ::waitpid(pid, &wait_status, 0);
        Outcome outcome;
        outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
        outcome.out = slurp(out);
        outcome.err = slurp(err);
        fs::remove(out);
        fs::remove(err);
        return outcome;
    }

    void write_file(const std::string& name, const std::string& text) const {
        std::ofstream(path(name), std::ios::binary) << text;
    }

  private:
    fs::path dir_;
};

const std::string kHelpBox =
    "_____________________________________________________\n"
    "|             Generateur de fractales               |\n"
    "|                                                   |\n"
    "| Dessine un triangle de Sierpinski ou une fougere  |\n"
    "|    et l'enregistre au format bitmap x11 (.xbm)    |\n"
    "|                                                   |\n"
    "| parametres attendus (le premier est obligatoire,  |\n"
    "|     les autres prennent la valeur par defaut      |\n"
    "| specifiee dans les parentheses s'ils sont omis):  |\n"
    "|                                                   |\n"
    "|               nom du fichier cible                |\n"
    "|type de fractale,\"triangle\" ou \"fern\") (\"triangle\")|\n"
    "|        largeur de l'image en pixels (1000)        |\n"
    "|        hauteur de l'image en pixels (1000)        |\n"
    "|           nombre d'iterations (100000)            |\n"
    "_____________________________________________________\n"
    "\n";

using Success = Run;

TEST_F(Success, DefaultRunWritesTheTriangleSilently) {
    const Outcome o = run({"out.xbm"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    const std::string text = slurp(path("out.xbm"));
    EXPECT_EQ(text.size(), 750073u);
    EXPECT_EQ(text.rfind("#define im_width 1000\n#define im_height 1000\n", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 4), " \n};");
    EXPECT_NE(text.find_first_not_of("0x, \n", text.find('{') + 1), text.size() - 2)
        << "no pixel drawn";
}

TEST_F(Success, FernOfGivenSizeAndFileNameUsedAsTyped) {
    const Outcome o = run({"-", "fern", "200", "300"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out + o.err, "");
    const std::string text = slurp(path("-"));
    EXPECT_EQ(text.rfind("#define im_width 200\n#define im_height 300\n", 0), 0u);
    EXPECT_EQ(text.size(), 65u + 3 + 3 + 6 * 25 * 300);
    EXPECT_FALSE(fs::exists(path("-.xbm")));
}

TEST_F(Success, ExistingFileIsReplacedNotAppended) {
    write_file("old.xbm", std::string(2000000, 'x'));
    ASSERT_EQ(run({"old.xbm", "fern", "8", "1", "0"}).status, 0);
    EXPECT_EQ(slurp(path("old.xbm")),
              "#define im_width 8\n#define im_height 1\nstatic char im_bits[] = {\n0x00 \n};");
}

TEST_F(Success, NewFileGetsDefaultPermissions) {
    const mode_t mask = ::umask(022);
    ASSERT_EQ(run({"new.xbm", "fern", "10", "10", "10"}).status, 0);
    ::umask(mask);
    EXPECT_EQ(fs::status(path("new.xbm")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);
}

struct RefusalCase {
    std::vector<std::string> args;
    std::string error;  // the one line on standard error, or its start when `whole` is false
    bool help;          // whether the help box comes first on standard output
    bool whole = true;
};

class Refusal : public Run, public testing::WithParamInterface<RefusalCase> {};

// Each refusal: status 1, its message, and an existing output file left as it was.
TEST_P(Refusal, FailsWithOneMessageAndLeavesTheFileAlone) {
    const RefusalCase& c = GetParam();
    ASSERT_EQ(kHelpBox.size(), 865u);
    if (c.error.starts_with("ERREUR: Memoire")) {
        const auto w = static_cast<std::uint32_t>(std::stoul(c.args[2]));
        const auto h = static_cast<std::uint32_t>(std::stoul(c.args[3]));
        if (bitmap_footprint(w, h) <= available_memory().value_or(0)) {
            GTEST_SKIP() << w << " x " << h << " fits in this machine's memory";
        }
    }
    write_file("keep.xbm", "precious");
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = run(c.args);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string shown;
    for (const std::string& arg : c.args) {
        shown += "[" + arg + "]";
    }
    EXPECT_EQ(o.status, 1) << shown;
    if (c.whole) {
        EXPECT_EQ(o.err, c.error + "\n") << shown;
    } else {
        EXPECT_EQ(o.err.rfind(c.error, 0), 0u) << shown << " said " << o.err;
        EXPECT_EQ(o.err.find('\n'), o.err.size() - 1) << shown << " said " << o.err;
    }
    EXPECT_EQ(o.out, c.help ? kHelpBox : "") << shown;
    EXPECT_EQ(slurp(path("keep.xbm")), "precious") << shown;
    EXPECT_LT(seconds, 10.0) << shown << " is refused only after drawing";
}

const std::string kNumberRange = " (de -2147483648 a 4294967295)";

INSTANTIATE_TEST_SUITE_P(
    CommandLine, Refusal,
    testing::Values(
        RefusalCase{{}, "ERREUR: Nom de fichier requis", true},
        RefusalCase{{"keep.xbm", "fern", "1", "1", "1", "extra"}, "ERREUR: Trop d'arguments", true},
        RefusalCase{
            {"keep.xbm", "Fern"}, "ERREUR: Type d'image non pris en charge :\"Fern\"", true},
        RefusalCase{{"keep.xbm", "triangle", "10", "16777217"},
                    "ERREUR: Hauteur hors limites : 16777217 (de 1 a 16777216)",
                    true},
        RefusalCase{{"keep.xbm", "triangle", "10", "10", "4294967296"},
                    "ERREUR: Nombre hors limites pour le nombre d'iterations :\"4294967296\"" +
                        kNumberRange,
                    true}));

INSTANTIATE_TEST_SUITE_P(
    Memory, Refusal,
    testing::Values(
        RefusalCase{{"keep.xbm", "fern", "16777216", "16777216"},
                    "ERREUR: Memoire insuffisante pour une image de 16777216 x 16777216 : ",
                    false,
                    false},
        RefusalCase{{"keep.xbm", "triangle", "200000", "200000"},
                    "ERREUR: Memoire insuffisante pour une image de 200000 x 200000 : ",
                    false,
                    false}));

struct FileFaultCase {
    std::string name;
    std::string error;
    std::optional<rlim_t> file_size_limit;
};

class FileFault : public Run, public testing::WithParamInterface<FileFaultCase> {};

// The drawing is done but cannot be saved: status 1, the reason on standard error, no help box.
TEST_P(FileFault, IsReportedAsFailure) {
    const FileFaultCase& c = GetParam();
    fs::create_directory(path("a_directory"));
    const Outcome o = run({c.name, "fern", "300", "300"}, c.file_size_limit);
    EXPECT_EQ(o.status, 1) << c.name;
    EXPECT_EQ(o.out, "") << c.name;
    EXPECT_EQ(o.err, c.error + " le fichier \"" + c.name + "\"\n");
    // Nothing is left behind but what a limited write got out before it failed: the text's start.
    EXPECT_TRUE(fs::is_empty(path("a_directory"))) << c.name;
    if (c.file_size_limit) {
        EXPECT_EQ(entries(), (std::vector<std::string>{"a_directory", c.name}));
        const std::string text = slurp(path(c.name));
        EXPECT_EQ(text.size(), *c.file_size_limit) << c.name;
        EXPECT_EQ(text.rfind("#define im_width 300\n#define im_height 300\n", 0), 0u) << c.name;
    } else {
        EXPECT_EQ(entries(), std::vector<std::string>{"a_directory"}) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, FileFault,
    testing::Values(FileFaultCase{"missing/out.xbm", "ERREUR: Impossible d'ouvrir", {}},
                    FileFaultCase{"", "ERREUR: Impossible d'ouvrir", {}},
                    FileFaultCase{"a_directory", "ERREUR: Impossible d'ouvrir", {}},
                    FileFaultCase{std::string(300, 'n'), "ERREUR: Impossible d'ouvrir", {}},
                    FileFaultCase{"/dev/full", "ERREUR: Impossible d'ecrire", {}},
                    FileFaultCase{"limited.xbm", "ERREUR: Impossible d'ecrire", 4096}));

// A tool that reads the output could not be started: the test is skipped, except in CI, which
// installs every such tool.
bool not_installed(const Outcome& outcome) {
    return outcome.status == 127 && std::getenv("CI") == nullptr;
}

// The bitmap as netpbm's raw PBM: rows padded to whole bytes, the leftmost pixel in the highest
// bit, 1 for black, which is drawn.
std::string to_pbm(const CBitmap& drawn) {
    std::string pbm =
        "P4\n" + std::to_string(drawn.width) + " " + std::to_string(drawn.height) + "\n";
    for (std::uint32_t y = 0; y < drawn.height; ++y) {
        for (std::uint32_t x = 0; x < drawn.width; x += 8) {
            unsigned byte = 0;
            for (std::uint32_t bit = 0; bit < 8; ++bit) {
                byte |= (x + bit < drawn.width && drawn.get_pixel(x + bit, y)) ? 0x80u >> bit : 0;
            }
            pbm += static_cast<char>(byte);
        }
    }
    return pbm;
}

struct ReaderCase {
    std::string type;
    std::uint32_t width;
    std::uint32_t height;
};

class RealReader : public Run, public testing::WithParamInterface<ReaderCase> {};

// netpbm's xbmtopbm decodes the file into the very pixels the run drew. The fern is the same on
// every run; the triangle is redrawn from each second the run may have seeded rand() with.
TEST_P(RealReader, XbmtopbmDecodesThePixelsTheRunDrew) {
    const ReaderCase& c = GetParam();
    const std::string shown =
        c.type + " " + std::to_string(c.width) + " x " + std::to_string(c.height);
    const std::time_t first = std::time(nullptr);
    ASSERT_EQ(run({"out.xbm", c.type, std::to_string(c.width), std::to_string(c.height)}).status, 0)
        << shown;
    const std::time_t last = std::time(nullptr);
    const Outcome pbm = run_program("xbmtopbm", {"out.xbm"});
    if (not_installed(pbm)) {
        GTEST_SKIP() << "xbmtopbm is not installed (Debian package netpbm)";
    }
    ASSERT_EQ(pbm.status, 0) << shown << ": " << pbm.err;
    std::string expected;
    for (std::time_t seed = first; seed <= last && expected != pbm.out; ++seed) {
        CBitmap drawn(c.width, c.height, false);
        if (c.type == "fern") {
            draw_fern(drawn, 100000);
        } else {
            std::srand(static_cast<unsigned>(seed));
            draw_triangle(drawn, 100000);
        }
        expected = to_pbm(drawn);
    }
    EXPECT_TRUE(expected == pbm.out) << shown << ": xbmtopbm decoded other pixels";
}

INSTANTIATE_TEST_SUITE_P(
    Widths, RealReader,
    testing::Values(ReaderCase{"triangle", 1, 40}, ReaderCase{"triangle", 7, 40},
                    ReaderCase{"triangle", 8, 40}, ReaderCase{"triangle", 13, 40},
                    ReaderCase{"triangle", 1000, 1000}, ReaderCase{"fern", 1, 40},
                    ReaderCase{"fern", 7, 40}, ReaderCase{"fern", 8, 40},
                    ReaderCase{"fern", 13, 40}, ReaderCase{"fern", 1000, 1000}));

using CCompiler = Run;

// The file is C source: a C program that includes it holds the run's size and bytes.
TEST_F(CCompiler, BuildsTheFileIntoAnArrayOfTheDrawnBytes) {
    ASSERT_EQ(run({"fern.xbm", "fern", "13", "40"}).status, 0);
    write_file("probe.c",
               "#include <stdio.h>\n"
               "#include \"fern.xbm\"\n"
               "int main(void) {\n"
               "    printf(\"%d %d\\n\", im_width, im_height);\n"
               "    fwrite(im_bits, 1, sizeof im_bits, stdout);\n"
               "    return 0;\n"
               "}\n");
    const Outcome compiled = run_program("cc", {"-o", "probe", "probe.c"});
    if (not_installed(compiled)) {
        GTEST_SKIP() << "cc is not installed";
    }
    ASSERT_EQ(compiled.status, 0) << compiled.err;
    CBitmap drawn(13, 40, false);
    draw_fern(drawn, 100000);
    std::string expected = "13 40\n";
    for (const auto& row : drawn.bits.rows) {
        expected.append(row.begin(), row.end());
    }
    EXPECT_EQ(run_program("./probe", {}).out, expected);
}

}  // namespace
