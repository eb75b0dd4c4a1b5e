#include "report.hpp"

#include <cstdio>

#include "progress.hpp"

void report(std::string_view line) {
    // The line stands alone, never after a progress line cut short.
    stop_progress();
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

std::string figures(std::uint64_t needed, std::uint64_t available, std::string_view unit) {
    return " : " + std::to_string(needed) + " octets requis, " + std::to_string(available) + " " +
           std::string(unit);
}
