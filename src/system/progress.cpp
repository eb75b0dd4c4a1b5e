#include "progress.hpp"

#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "ending_signals.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// A shorter run never shows the line; a longer one redraws it a few times a second, so that the
// terminal costs nothing measurable.
constexpr Seconds kQuiet{1.0};
constexpr Seconds kRedrawEvery{0.25};

// The line is short; a narrow terminal gets it cut, never wrapped, since a carriage return only
// goes back to the start of the last row.
constexpr std::size_t kMaxWidth = 120;

struct Progress {
    bool enabled = false;
    Phase phase = Phase::drawing;
    std::uint64_t total = 0;
    std::uint64_t done = 0;
    Clock::time_point phase_start;
    Clock::time_point next_redraw;
};
Progress g_progress;

// Columns of the line now on the terminal, and the most the line may take there; for the
// signal handler too.
volatile sig_atomic_t g_shown = 0;
volatile sig_atomic_t g_room = 0;

// A carriage return, then blanks enough to cover the widest line.
constexpr auto kBlank = [] {
    std::array<char, kMaxWidth + 1> blank{};
    blank.fill(' ');
    blank[0] = '\r';
    return blank;
}();

// Blanks the line and `extra` columns after it, within the room it had. Async-signal-safe:
// write(2) only.
void erase_shown(std::size_t extra = 0) {
    const auto width =
        std::min(static_cast<std::size_t>(g_shown) + extra, static_cast<std::size_t>(g_room));
    if (g_shown > 0) {
        [[maybe_unused]] const auto blanked = ::write(STDERR_FILENO, kBlank.data(), width + 1);
        [[maybe_unused]] const auto returned = ::write(STDERR_FILENO, "\r", 1);
        g_shown = 0;
    }
}

// A person may have sent the run to the background and be typing on the terminal. Both calls
// are safe in a signal handler.
bool in_foreground() {
    return ::tcgetpgrp(STDERR_FILENO) == ::getpgrp();
}

// A signal that ends the run must not leave the line behind, half a prompt's row taken. The
// two columns after it go too: the terminal echoes Ctrl-C there as "^C". In the background, the
// row is no longer the line's, and a write would even stop the run (`stty tostop`) instead of
// letting it end.
void erase_on_ending_signal() {
    if (in_foreground()) {
        erase_shown(2);
    }
}
SignalCleanup g_erase_on_ending_signal{erase_on_ending_signal};

// Columns of the terminal on standard error; 80 where the system cannot tell.
std::size_t terminal_columns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

// "12 s", "3 min 05 s", "2 h 07 min": the time left, rounded up.
void format_duration(char (&out)[32], double seconds) {
    const auto whole = static_cast<unsigned long long>(std::min(seconds, 3.6e8)) + 1;
    if (whole < 60) {
        std::snprintf(out, sizeof out, "%llu s", whole);
    } else if (whole < 3600) {
        std::snprintf(out, sizeof out, "%llu min %02llu s", whole / 60, whole % 60);
    } else {
        std::snprintf(out, sizeof out, "%llu h %02llu min", whole / 3600, whole / 60 % 60);
    }
}

// `text` over the line drawn before, cut to the terminal's width.
void show(const char* text) {
    // A line on show is one that a signal ending the run must erase.
    clean_up_on_ending_signals(g_erase_on_ending_signal);
    const std::size_t limit = std::min(kMaxWidth, terminal_columns() - 1);
    const std::size_t length = std::min(std::strlen(text), limit);
    // Blanks go over what is left of a longer line drawn before.
    const std::size_t width = std::max(length, std::min(static_cast<std::size_t>(g_shown), limit));
    auto line = kBlank;
    std::copy(text, text + length, line.begin() + 1);
    g_shown = static_cast<sig_atomic_t>(width);
    g_room = static_cast<sig_atomic_t>(limit);
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, line.data(), width + 1);
}

// "Dessin : 42 %, reste environ 1 min 05 s", over the line drawn before.
void redraw(Clock::time_point now) {
    const Progress& p = g_progress;
    if (p.phase == Phase::waiting) {
        show("Attente du fichier");
        return;
    }
    const char* name = p.phase == Phase::drawing ? "Dessin" : "Ecriture";
    const auto percent =
        static_cast<unsigned long long>(p.total == 0 ? 100 : p.done * 100 / p.total);
    const double elapsed = Seconds(now - p.phase_start).count();
    char text[96];
    if (p.done > 0 && p.done < p.total) {
        char left[32];
        format_duration(
            left, elapsed * static_cast<double>(p.total - p.done) / static_cast<double>(p.done));
        std::snprintf(text, sizeof text, "%s : %llu %%, reste environ %s", name, percent, left);
    } else {
        std::snprintf(text, sizeof text, "%s : %llu %%", name, percent);
    }
    show(text);
}

}  // namespace

void start_progress() {
    g_progress.enabled = ::isatty(STDERR_FILENO) == 1;
    if (g_progress.enabled) {
        g_progress.next_redraw = Clock::now() + std::chrono::duration_cast<Clock::duration>(kQuiet);
    }
}

void start_phase(Phase phase, std::uint64_t total) {
    g_progress.phase = phase;
    g_progress.total = total;
    g_progress.done = 0;
    if (g_progress.enabled) {
        g_progress.phase_start = Clock::now();
        // A line on show tells of the new phase at once: the phase may begin with a wait.
        if ((g_shown > 0 || phase == Phase::waiting) && in_foreground()) {
            redraw(g_progress.phase_start);
        }
    }
}

void set_progress(std::uint64_t done) {
    g_progress.done = done;
    if (!g_progress.enabled) {
        return;
    }
    const Clock::time_point now = Clock::now();
    if (now < g_progress.next_redraw) {
        return;
    }
    g_progress.next_redraw = now + std::chrono::duration_cast<Clock::duration>(kRedrawEvery);
    if (!in_foreground()) {
        return;
    }
    redraw(now);
}

void add_progress(std::uint64_t more) {
    set_progress(g_progress.done + more);
}

void stop_progress() {
    g_progress.enabled = false;
    // In the background, the terminal's row is no longer the line's: it stays, and the next
    // output scrolls it away.
    if (g_shown > 0 && in_foreground()) {
        erase_shown();
    }
}
