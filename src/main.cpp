// fractxbm: draws a Sierpinski triangle or a fern and saves it as an X11 bitmap (XBM) file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bitmap/bitmap.hpp"
#include "cli/command_line.hpp"
#include "files/facts.hpp"
#include "fractals/fractals.hpp"
#include "output/destination.hpp"
#include "system/ending_signals.hpp"
#include "system/memory.hpp"
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

// What --help adds below the box, for a person who has not read the manual page yet.
constexpr std::string_view kUsage =
    "Usage : fractxbm FICHIER [TYPE [LARGEUR [HAUTEUR [ITERATIONS]]]]\n"
    "        fractxbm --help | -h | --version\n"
    "\n"
    "Les parametres vont par position : pour donner la hauteur, donner aussi le\n"
    "type et la largeur.\n"
    "  FICHIER     fichier a ecrire, nom pris tel quel (- est un fichier nomme -)\n"
    "  TYPE        triangle ou fern (defaut : triangle)\n"
    "  LARGEUR     largeur en pixels, de 1 a 16777216 (defaut : 1000)\n"
    "  HAUTEUR     hauteur en pixels, de 1 a 16777216 (defaut : 1000)\n"
    "  ITERATIONS  nombre de points, de 0 a 4294967295 (defaut : 100000)\n"
    "\n"
    "Options, seulement comme argument unique, les longues aussi abregees (--he,\n"
    "--vers) :\n"
    "  --help, -h  affiche cette aide\n"
    "  --version   affiche la version et la licence\n"
    "Seul, tout autre mot commencant par - est refuse : un fichier de ce nom\n"
    "s'ecrit ./-nom.\n"
    "\n"
    "Etat de sortie : 0 si l'image est ecrite (ou l'aide, ou la version) ; 1 en cas\n"
    "d'echec, dit par une ligne \"ERREUR: ...\" sur la sortie d'erreur.\n"
    "\n"
    "SOURCE_DATE_EPOCH, un nombre de secondes, tient lieu d'horloge pour le tirage\n"
    "du triangle : la meme valeur donne la meme image.\n"
    "\n"
    "Page de manuel : man fractxbm\n";

constexpr std::string_view kVersion =
    "fractxbm " FRACTXBM_VERSION
    "\n"
    "Copyright 2026 The fractxbm developers\n"
    "Licence MIT : ceci est un logiciel libre, vous etes libre de le modifier et\n"
    "de le redistribuer. Il n'est accompagne d'aucune garantie.\n";

void draw(CBitmap& bitmap, const Options& options) {
    start_phase(Phase::drawing, options.iterations);
    const PlotProgress progress = [](std::uint32_t plotted) { set_progress(plotted); };
    if (options.type == "fern") {
        draw_fern(bitmap, options.iterations, progress);
    } else {
        draw_triangle(bitmap, options.iterations, progress);
    }
}

// A stand-in for the closed descriptor `fd`, the lowest free one, read-only so that writing
// there fails as it would have on the closed descriptor. The standard output's is the read end
// of a pipe, which no file name leads to but the kernel's own link to it (/dev/stdout).
bool open_stand_in(int fd) {
    if (fd != STDOUT_FILENO) {
        return ::open("/dev/null", O_RDONLY) != -1;
    }
    int ends[2];
    return ::pipe(ends) == 0 && ::close(ends[1]) == 0;
}

// Descriptors 0, 1 and 2 that the run was started without are given stand-ins before anything
// else is opened: else the output file could take one of their numbers, and a message meant for
// standard error would land in it. Returns whether the standard output is the run's own, rather
// than such a stand-in, which no file name is to be written through.
bool open_standard_streams() {
    const bool own_output = ::fcntl(STDOUT_FILENO, F_GETFD) != -1;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && !open_stand_in(fd)) {
            std::_Exit(EXIT_FAILURE);  // nowhere even to say so
        }
    }
    return own_output;
}

// Whether the run fits in the memory the system can give: the bitmap, the text's buffer, and
// the text itself where the file is kept in memory, where it stands beside the old file until it
// replaces it. If not, says so in one line with the figures. True when the system tells nothing
// of its memory.
bool fits_in_memory(const Options& options, const DestinationFacts& facts) {
    // The bitmap and the text's buffer lie in the process's own memory, whatever the machine has.
    const std::uint64_t held = bitmap_footprint(options.width, options.height) + kTextBufferSize;
    if (held > address_space()) {
        report(memory_error(options.width, options.height) +
               figures(held, address_space(), "adressables"));
        return false;
    }
    const auto available = available_memory();
    if (!available) {
        return true;
    }
    const std::uint64_t text = xbm_text_length(options.width, options.height);
    const std::uint64_t needed = held + (kept_in_memory(facts) ? text : 0);
    if (needed <= *available) {
        return true;
    }
    report(memory_error(options.width, options.height) +
           figures(needed, *available, "disponibles"));
    return false;
}

// The encoder's sink: each buffer of text to the destination, counted on the progress line.
bool to_destination(void* destination, const char* data, std::size_t size) {
    if (!static_cast<Destination*>(destination)->write(data, size)) {
        return false;
    }
    add_progress(size);
    return true;
}

// Writes the drawn picture's text and gives the destination's name to it.
bool write_picture(const CBitmap& bitmap, std::span<char> buffer, Destination& destination) {
    if (!destination.begin()) {
        return false;
    }
    if (destination.to_terminal()) {
        stop_progress();  // the text itself goes to the terminal: the line would tear it
    }
    return write_xbm(bitmap, buffer, to_destination, &destination) && destination.commit();
}

// The run once the command line is read: each step comes after every check that could refuse
// it, the destination's included, so that a fault costs no drawing and no file is touched
// before the picture is whole.
bool make_picture(const Options& options, bool own_output) {
    DestinationFacts facts = gather_facts(options.file_name, this_process(), own_output);
    if (!fits_in_memory(options, facts)) {
        return false;
    }
    // The second is taken as the clock's would be, and cut to the generator's seed alike.
    seed_triangle(static_cast<unsigned>(options.epoch ? *options.epoch : std::time(nullptr)));
    CBitmap bitmap(options.width, options.height, false);
    const auto buffer = std::make_unique_for_overwrite<char[]>(kTextBufferSize);
    const std::uint64_t length = xbm_text_length(options.width, options.height);
    Destination destination(options.file_name);
    if (!destination.prepare(std::move(facts), length, [] { start_phase(Phase::waiting, 0); })) {
        return false;
    }
    draw(bitmap, options);
    start_phase(Phase::writing, length);
    return write_picture(bitmap, {buffer.get(), kTextBufferSize}, destination);
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
    const bool own_output = open_standard_streams();
    handle_ending_signals();
    // An error line stands alone, never after a progress line cut short.
    before_each_report(stop_progress);
    // A file-size limit is checked before the file is touched; should a write still pass one, it
    // fails and is reported instead of the kernel killing the run mid-write.
    std::signal(SIGXFSZ, SIG_IGN);

    CommandLine command_line = read_command_line(argc, argv);
    if (command_line.request != Request::picture) {
        // Asked for, this text is the whole point of the run: losing it is a failure.
        if (command_line.request == Request::help) {
            help();
        }
        const std::string_view text = command_line.request == Request::help ? kUsage : kVersion;
        std::fwrite(text.data(), 1, text.size(), stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            report("ERREUR: Impossible d'ecrire sur la sortie standard" + cause(errno));
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
    if (const std::string refusal =
            read_environment(std::getenv("SOURCE_DATE_EPOCH"), command_line.options);
        !refusal.empty()) {
        report(refusal);
        return EXIT_FAILURE;
    }
    const Options& options = command_line.options;
    start_progress();
    try {
        const bool made = make_picture(options, own_output);
        stop_progress();
        return made ? EXIT_SUCCESS : EXIT_FAILURE;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    report(memory_error(options.width, options.height) + cause(ENOMEM));
    return EXIT_FAILURE;
}
