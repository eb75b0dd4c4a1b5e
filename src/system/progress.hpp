// The line on standard error that tells a person at a terminal how far a long run has got.
#pragma once

#include <cstdint>

// A wait for another run that holds the file, with no total, shows at once: a person at the
// terminal must know that the run is not stuck.
enum class Phase { waiting, drawing, writing };

// Starts the run's clock. The line shows only when standard error is a terminal of which this
// process is in the foreground, once the run has lasted more than a second; otherwise nothing
// here writes anything or changes anything.
void start_progress();

// Starts `phase`, of `total` units (points to plot, then bytes to write), none done yet.
void start_phase(Phase phase, std::uint64_t total);

// `done` units of the phase are done. Redraws the line at most four times a second; between
// redraws it only reads the clock.
void set_progress(std::uint64_t done);

// `more` units more of the phase are done.
void add_progress(std::uint64_t more);

// Erases the line, if shown, so that the cursor is back where the line began, and shows it no
// more. Called before an error line, at the end of the run, and when the text itself goes to
// the terminal.
void stop_progress();
