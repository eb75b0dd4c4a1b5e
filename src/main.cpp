// fractxbm: draws a Sierpinski triangle or a fern and saves it as an X11 bitmap (XBM) file.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <stdexcept>
#include <string_view>

#include "bitmap/bitmap.hpp"
#include "cli/command_line.hpp"
#include "fractals/fractals.hpp"
#include "system/memory.hpp"
#include "system/output_file.hpp"
#include "system/progress.hpp"
#include "system/report.hpp"

namespace {

constexpr std::string_view kHelpLines[] = {
    "_____________________________________________________",
    "|             Generateur de fractales               |",
    "|                                                   |",
    "| Dessine un triangle de Sierpinski ou une fougere  |",
    "|    et l'enregistre au format bitmap x11 (.xbm)    |",
    "|                                                   |",
    "| parametres attendus (le premier est obligatoire,  |",
    "|     les autres prennent la valeur par defaut      |",
    "| specifiee dans les parentheses s'ils sont omis):  |",
    "|                                                   |",
    "|               nom du fichier cible                |",
    "|type de fractale,\"triangle\" ou \"fern\") (\"triangle\")|",
    "|        largeur de l'image en pixels (1000)        |",
    "|        hauteur de l'image en pixels (1000)        |",
    "|           nombre d'iterations (100000)            |",
    "_____________________________________________________",
};

void draw(CBitmap& bitmap, const Options& options) {
    start_phase(Phase::drawing, options.iterations);
    const PlotProgress progress = [](std::uint32_t plotted) { set_progress(plotted); };
    if (options.type == "fern") {
        draw_fern(bitmap, options.iterations, progress);
    } else {
        draw_triangle(bitmap, options.iterations, progress);
    }
}

}  // namespace

void help() {
    for (const std::string_view line : kHelpLines) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int main(int argc, char* argv[]) {
    // A file-size limit is checked before the file is touched; should a write still pass one, it
    // fails and is reported instead of the kernel killing the run mid-write.
    std::signal(SIGXFSZ, SIG_IGN);

    const CommandLine command_line = read_command_line(argc, argv);
    if (command_line.request != Request::picture) {
        // Asked for, this text is the whole point of the run: losing it is a failure.
        if (command_line.request == Request::help) {
            help();
        } else {
            std::fputs("fractxbm " FRACTXBM_VERSION "\n", stdout);
        }
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            report("ERREUR: Impossible d'ecrire sur la sortie standard");
            return EXIT_FAILURE;
        }
        return EXIT_SUCCESS;
    }
    if (!command_line.error.empty()) {
        // The help box is a courtesy: a reader of standard output that has gone away must not
        // cost the error line or the status.
        std::signal(SIGPIPE, SIG_IGN);
        help();
        report(command_line.error);
        return EXIT_FAILURE;
    }
    const Options& options = command_line.options;
    start_progress();
    if (!memory_suffices(options.width, options.height, options.file_name)) {
        return EXIT_FAILURE;
    }
    seed_triangle(static_cast<unsigned>(std::time(nullptr)));
    try {
        CBitmap bitmap(options.width, options.height, false);
        // Everything the run holds is taken before the file is opened, so that a lack of memory
        // never leaves it half written.
        const auto block = std::make_unique_for_overwrite<char[]>(kTextBlockSize);
        draw(bitmap, options);
        const bool saved = save_xbm(bitmap, options.file_name, {block.get(), kTextBlockSize});
        stop_progress();
        return saved ? EXIT_SUCCESS : EXIT_FAILURE;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    report(memory_error(options.width, options.height));
    return EXIT_FAILURE;
}
