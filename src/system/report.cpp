#include "report.hpp"

#include <clocale>
#include <cstdio>
#include <cstring>

#include "progress.hpp"

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

void report(std::string_view line) {
    // The line stands alone, never after a progress line cut short.
    stop_progress();
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
