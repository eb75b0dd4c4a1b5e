// fractxbm: draws a Sierpinski triangle or a fern and saves it as an X11 bitmap (XBM) file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bitmap/bitmap.hpp"
#include "cli/command_line.hpp"
#include "cli/memory.hpp"
#include "fractals/fractals.hpp"
#include "system/progress.hpp"

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

// One line on standard error, flushed at once.
void report(const std::string& error) {
    stop_progress();
    std::fwrite(error.data(), 1, error.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string memory_error(const Options& options) {
    return "ERREUR: Memoire insuffisante pour une image de " + std::to_string(options.width) +
           " x " + std::to_string(options.height);
}

// The text goes to the file through one block of this size. A bigger block costs page faults
// and cache misses on a small picture; a smaller one, system calls on a large one.
constexpr std::size_t kBlockSize = std::size_t{1} << 16;

// The run holds the bitmap and one block of text, and the whole text as well when the file
// system keeps its files in memory: refusing up front beats being killed by the kernel
// half-way, since the allocations themselves rarely fail on Linux.
bool memory_suffices(const Options& options) {
    const auto available = available_memory();
    if (!available) {
        return true;
    }
    std::uint64_t needed = bitmap_footprint(options.width, options.height) + kBlockSize;
    if (keeps_files_in_memory(options.file_name)) {
        needed += xbm_text_length(options.width, options.height);
    }
    if (needed <= *available) {
        return true;
    }
    report(memory_error(options) + " : " + std::to_string(needed) + " octets requis, " +
           std::to_string(*available) + " disponibles");
    return false;
}

void draw(CBitmap& bitmap, const Options& options) {
    start_phase(Phase::drawing, options.iterations);
    const PlotProgress progress = [](std::uint32_t plotted) { set_progress(plotted); };
    if (options.type == "fern") {
        draw_fern(bitmap, options.iterations, progress);
    } else {
        draw_triangle(bitmap, options.iterations, progress);
    }
}

bool write_all(void* context, const char* data, std::size_t size) {
    const int fd = *static_cast<const int*>(context);
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        add_progress(static_cast<std::uint64_t>(written));
    }
    return true;
}

// Creates or truncates the file (default permissions for a new one) and streams the text into
// it through `block`. Only called once the drawing is done and everything it needs is allocated,
// so a run that fails before writing never empties an existing file.
bool save(const CBitmap& bitmap, const std::string& file_name, std::span<char> block) {
    int fd = ::open(file_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        report("ERREUR: Impossible d'ouvrir le fichier \"" + file_name + "\"");
        return false;
    }
    if (::isatty(fd) == 1) {
        stop_progress();  // the text itself goes to the terminal: the line would tear it
    }
    start_phase(Phase::writing, xbm_text_length(bitmap.width, bitmap.height));
    const bool written = write_xbm(bitmap, block, write_all, &fd);
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        report("ERREUR: Impossible d'ecrire le fichier \"" + file_name + "\"");
        return false;
    }
    return true;
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
    // Past a file-size limit the kernel would kill us mid-write; a failed write is reported
    // instead.
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
    if (!memory_suffices(options)) {
        return EXIT_FAILURE;
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    try {
        CBitmap bitmap(options.width, options.height, false);
        const auto block = std::make_unique_for_overwrite<char[]>(kBlockSize);
        draw(bitmap, options);
        const bool saved = save(bitmap, options.file_name, {block.get(), kBlockSize});
        stop_progress();
        return saved ? EXIT_SUCCESS : EXIT_FAILURE;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    report(memory_error(options));
    return EXIT_FAILURE;
}
