// fractxbm: draws a Sierpinski triangle or a fern and saves it as an X11 bitmap (XBM) file.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bitmap/bitmap.hpp"
#include "cli/command_line.hpp"
#include "cli/memory.hpp"
#include "fractals/fractals.hpp"

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
    std::fwrite(error.data(), 1, error.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string memory_error(const Options& options) {
    return "ERREUR: Memoire insuffisante pour une image de " + std::to_string(options.width) +
           " x " + std::to_string(options.height);
}

// The run holds the bitmap and then its whole text at once; refusing up front beats being
// killed by the kernel half-way, since the allocations themselves rarely fail on Linux.
bool memory_suffices(const Options& options) {
    const auto available = available_memory();
    if (!available) {
        return true;
    }
    const std::uint64_t needed = bitmap_and_text_footprint(options.width, options.height);
    if (needed <= *available) {
        return true;
    }
    report(memory_error(options) + " : " + std::to_string(needed) + " octets requis, " +
           std::to_string(*available) + " disponibles");
    return false;
}

void draw(CBitmap& bitmap, const Options& options) {
    if (options.type == "fern") {
        draw_fern(bitmap, options.iterations);
    } else {
        draw_triangle(bitmap, options.iterations);
    }
}

bool write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Creates or truncates the file (default permissions for a new one) and writes the text whole.
// Only called once the text is complete, so a failed run never empties an existing file.
bool save(const std::string& file_name, std::string_view text) {
    const int fd = ::open(file_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        report("ERREUR: Impossible d'ouvrir le fichier \"" + file_name + "\"");
        return false;
    }
    const bool written = write_all(fd, text);
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
    if (!command_line.error.empty()) {
        help();
        report(command_line.error);
        return EXIT_FAILURE;
    }
    const Options& options = command_line.options;
    if (!memory_suffices(options)) {
        return EXIT_FAILURE;
    }
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    try {
        CBitmap bitmap(options.width, options.height, false);
        draw(bitmap, options);
        const std::string text = bitmap.tostr();
        return save(options.file_name, text) ? EXIT_SUCCESS : EXIT_FAILURE;
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    report(memory_error(options));
    return EXIT_FAILURE;
}
