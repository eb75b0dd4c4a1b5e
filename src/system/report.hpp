// The program's messages to the person who ran it.
#pragma once

#include <string_view>

// One line on standard error, flushed at once: every failure is told this way, in one line that
// begins "ERREUR: ".
void report(std::string_view line);
