// What a signal that ends the run must not leave behind: the progress line on the terminal, a new
// file half written.
#pragma once

#include <csignal>

// Undoes one thing from inside a signal handler: async-signal-safe calls only.
using SignalCleanup = void (*)();

// Has `cleanup` run when SIGHUP, SIGINT, SIGQUIT, SIGPIPE or SIGTERM ends the run, before the
// signal ends it as it would have. A signal the run was started with ignored stays ignored. At
// most two cleanups; each does nothing when it has nothing left to undo. Naming a cleanup again
// does nothing.
void clean_up_on_ending_signals(SignalCleanup cleanup);

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
