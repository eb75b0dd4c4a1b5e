// The program's messages to the person who ran it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One line on standard error, flushed at once: every failure is told this way, in one line that
// begins "ERREUR: ".
void report(std::string_view line);

// " : N octets requis, M <unit>", the figures that end a refusal for want of room.
std::string figures(std::uint64_t needed, std::uint64_t available, std::string_view unit);
