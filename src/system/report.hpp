// The program's messages to the person who ran it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// One line on standard error, flushed at once: every failure is told so, in one line that
// begins "ERREUR: ".
void report(std::string_view line);

// Has `before` run before each line is reported: what the caller shows on the terminal (a
// progress line) must make way for it.
void before_each_report(void (*before)());

// The heads of the lines, each naming what failed and on which file; a cause or figures may
// follow, but never after the open failure's line, which stands alone.
std::string open_failure_line(const std::string& name);
std::string planted_line(const std::string& name);
std::string no_space_line(const std::string& name);
std::string too_long_line(const std::string& name);
std::string lock_line(const std::string& name, int seconds);
std::string write_failure_line(const std::string& name);
std::string folder_sync_line(const std::string& name);
std::string give_back_line(const std::string& name);
// "ERREUR: Memoire insuffisante pour une image de W x H", the start of every memory refusal.
std::string memory_error(std::uint32_t width, std::uint32_t height);

// " : N octets requis (X Mo)", what a refusal needed, also in the unit that a person reads at a
// glance.
std::string required(std::uint64_t needed);

// required(needed), then ", M <word> (Y Mo)": the figures that end a refusal for want of space
// or memory, `word` saying what M is ("disponibles", "permis").
std::string figures(std::uint64_t needed, std::uint64_t available, std::string_view word);

// " : " and the C library's words for `error`: the cause that ends the line of a failure that
// the system reported.
std::string cause(int error);
