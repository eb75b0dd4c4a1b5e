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

// Installs the one handler of the signals that end a run (SIGHUP, SIGINT, SIGQUIT, SIGPIPE,
// SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU): it runs every cleanup, then
// lets the signal end the run as it would have. A signal the run was started with ignored stays
// ignored. Called once, first thing.
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
