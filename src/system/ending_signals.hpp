// What a signal that ends the run must not leave behind: the progress line on the terminal, a
// hidden new file half written.
#pragma once

#include <csignal>

// One thing to undo from inside a signal handler. `undo` makes async-signal-safe calls only, and
// does nothing when nothing is left to undo. Each cleanup is a static object of its owner's;
// the handler walks them all, however many there are.
struct SignalCleanup {
    void (*const undo)();
    SignalCleanup* next = nullptr;
    bool listed = false;
};

// Installs the one handler of the signals that end a run (SIGHUP, SIGINT, SIGQUIT, SIGTERM,
// SIGPIPE, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU, SIGPWR, SIGIO, SIGSTKFLT,
// SIGSYS, SIGTRAP, SIGABRT and the real-time ones): it runs every cleanup, then lets the signal
// end the run as it would have, core dump included. A signal the run was started with ignored
// stays ignored, and one that already has a handler (a sanitizer's) keeps it. SIGSEGV, SIGBUS,
// SIGFPE and SIGILL are not among them. Called once, first thing.
void handle_ending_signals();

// Has `cleanup` run when one of those signals ends the run. Listing it again does nothing.
void clean_up_on_ending_signals(SignalCleanup& cleanup);

// Holds back the signals that end the run while it lives, so that a step and its bookkeeping
// happen together; one sent meanwhile ends the run as soon as it goes.
class EndingSignalsHeld {
  public:
    EndingSignalsHeld();
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;
    ~EndingSignalsHeld();

  private:
    sigset_t previous_;
};
