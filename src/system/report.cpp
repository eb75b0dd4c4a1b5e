#include "report.hpp"

#include <clocale>
#include <cstdio>
#include <cstring>

namespace {

// " (750 ko)", a count of bytes in the largest unit that fits, decimal as disks and file
// managers count, with a French decimal comma; nothing below 1000 bytes, which read at a glance.
std::string at_a_glance(std::uint64_t count) {
    constexpr const char* kUnits[] = {"ko", "Mo", "Go", "To", "Po", "Eo"};
    if (count < 1000) {
        return {};
    }
    // The unit in which the count, once rounded, stays below 1000: 999999 is "1,0 Mo".
    std::size_t unit = 0;
    std::uint64_t scale = 1000;
    while (unit + 1 < std::size(kUnits) && (count + scale / 2) / scale >= 1000) {
        scale *= 1000;
        ++unit;
    }
    // Tenths below 10, each figure rounded once to the nearest: 2956 -> "3,0 ko",
    // 14450 -> "14 ko", 12001280 -> "12 Mo".
    const std::uint64_t tenths = (count * 10 + scale / 2) / scale;
    char figure[32];
    if (tenths < 100) {
        std::snprintf(figure, sizeof figure, " (%llu,%llu %s)",
                      static_cast<unsigned long long>(tenths / 10),
                      static_cast<unsigned long long>(tenths % 10), kUnits[unit]);
    } else {
        std::snprintf(figure, sizeof figure, " (%llu %s)",
                      static_cast<unsigned long long>((count + scale / 2) / scale), kUnits[unit]);
    }
    return figure;
}

}  // namespace

namespace {
void (*g_before_report)() = nullptr;
}

void before_each_report(void (*before)()) {
    g_before_report = before;
}

void report(std::string_view line) {
    if (g_before_report != nullptr) {
        g_before_report();
    }
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string required(std::uint64_t needed) {
    return " : " + std::to_string(needed) + " octets requis" + at_a_glance(needed);
}

std::string figures(std::uint64_t needed, std::uint64_t available, std::string_view word) {
    return required(needed) + ", " + std::to_string(available) + " " + std::string(word) +
           at_a_glance(available);
}

std::string cause(int error) {
    // The C library's words, in the user's language and characters; the program's own words and
    // numbers stay as they are, LC_NUMERIC untouched. Asked for at the first cause only, so that
    // a run that goes well never loads the locale's files.
    static const bool localized = [] {
        std::setlocale(LC_MESSAGES, "");
        std::setlocale(LC_CTYPE, "");
        return true;
    }();
    static_cast<void>(localized);
    return " : " + std::string(std::strerror(error));
}

std::string open_failure_line(const std::string& name) {
    return "ERREUR: Impossible d'ouvrir le fichier \"" + name + "\"";
}

std::string planted_line(const std::string& name) {
    return "ERREUR: Chemin du fichier \"" + name +
           "\" refuse (lien ou fichier d'un autre utilisateur)";
}

std::string no_space_line(const std::string& name) {
    return "ERREUR: Espace insuffisant pour le fichier \"" + name + "\"";
}

std::string too_long_line(const std::string& name) {
    return "ERREUR: Limite de taille de fichier depassee pour le fichier \"" + name + "\"";
}

std::string lock_line(const std::string& name, int seconds) {
    return "ERREUR: Fichier \"" + name + "\" verrouille par un autre processus depuis " +
           std::to_string(seconds) + " s";
}

std::string write_failure_line(const std::string& name) {
    return "ERREUR: Impossible d'ecrire le fichier \"" + name + "\"";
}

std::string folder_sync_line(const std::string& name) {
    return "ERREUR: Impossible de mettre sur le disque le dossier du fichier \"" + name +
           "\" (l'image est en place)";
}

std::string give_back_line(const std::string& name) {
    return "ERREUR: Impossible de rendre au fichier \"" + name +
           "\" ses bits set-ID ou sa capacite (l'image est en place)";
}

std::string memory_error(std::uint32_t width, std::uint32_t height) {
    return "ERREUR: Memoire insuffisante pour une image de " + std::to_string(width) + " x " +
           std::to_string(height);
}
