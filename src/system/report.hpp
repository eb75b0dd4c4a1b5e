// The program's messages to the person who ran it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One line on standard error, flushed at once: every failure is told so, in one line that
// begins "ERREUR: ".
void report(std::string_view line);

// " : N octets requis (X Mo)", what a refusal needed, also in the unit that a person reads at a
// glance.
std::string required(std::uint64_t needed);

// required(needed), then ", M <word> (Y Mo)": the figures that end a refusal for want of space
// or memory, `word` saying what M is ("disponibles", "permis").
std::string figures(std::uint64_t needed, std::uint64_t available, std::string_view word);

// " : " and the C library's words for `error`: the cause that ends the line of a failure that
// the system reported.
std::string cause(int error);
