#include "ending_signals.hpp"

#include <atomic>
#include <csignal>

namespace {

// Every signal whose default ends the run, but for the real-time ones (their numbers are known
// only at run time) and for those a fault in the run itself raises (SIGSEGV, SIGBUS, SIGFPE,
// SIGILL): there the run's state is not to be trusted, so they are left to whoever handles them.
// SIGXFSZ is not here: the run ignores it and reports the failed write instead.
constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,    SIGQUIT,   SIGTERM, SIGPIPE, SIGALRM,
                                  SIGUSR1, SIGUSR2,   SIGVTALRM, SIGPROF, SIGXCPU, SIGPWR,
                                  SIGIO,   SIGSTKFLT, SIGSYS,    SIGTRAP, SIGABRT};

sigset_t ending_signals() {
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : kEndingSignals) {
        sigaddset(&ending, signal);
    }
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        sigaddset(&ending, signal);
    }
    return ending;
}

// The cleanups, newest first. A cleanup is pushed whole before it becomes the head, so that the
// handler, which may run between any two instructions, only ever sees complete ones.
std::atomic<SignalCleanup*> g_cleanups{nullptr};
static_assert(std::atomic<SignalCleanup*>::is_always_lock_free);

// Runs with every ending signal held, so that a second one cannot cut the cleanups short.
extern "C" void on_ending_signal(int signal) {
    for (SignalCleanup* cleanup = g_cleanups.load(); cleanup != nullptr; cleanup = cleanup->next) {
        cleanup->undo();
    }
    // The handler was reset on entry: raised again and let through, the signal ends the run here
    // and now as it would have, core dump included, whatever mask a return would have restored.
    sigset_t just_this;
    sigemptyset(&just_this);
    sigaddset(&just_this, signal);
    ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
    ::raise(signal);
}

}  // namespace

void handle_ending_signals() {
    struct sigaction action {};
    action.sa_handler = on_ending_signal;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    action.sa_mask = ending_signals();
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction previous {};
        if (sigismember(&action.sa_mask, signal) == 1 &&
            ::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL) {
            ::sigaction(signal, &action, nullptr);
        }
    }
}

void clean_up_on_ending_signals(SignalCleanup& cleanup) {
    if (cleanup.listed) {
        return;
    }
    cleanup.listed = true;
    cleanup.next = g_cleanups.load();
    g_cleanups = &cleanup;
}

EndingSignalsHeld::EndingSignalsHeld() {
    const sigset_t ending = ending_signals();
    ::sigprocmask(SIG_BLOCK, &ending, &previous_);
}

EndingSignalsHeld::~EndingSignalsHeld() {
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
