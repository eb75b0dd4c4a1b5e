#include "ending_signals.hpp"

#include <atomic>
#include <csignal>

namespace {

constexpr int kEndingSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGPIPE, SIGTERM, SIGUSR1,
                                  SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU};

// The cleanups, newest first. A cleanup is pushed whole before it becomes the head, so that the
// handler, which may run between any two instructions, only ever sees complete ones.
std::atomic<SignalCleanup*> g_cleanups{nullptr};
static_assert(std::atomic<SignalCleanup*>::is_always_lock_free);

extern "C" void on_ending_signal(int signal) {
    for (SignalCleanup* cleanup = g_cleanups.load(); cleanup != nullptr; cleanup = cleanup->next) {
        cleanup->undo();
    }
    // The handler was reset on entry: raised again, the signal ends the run as it would have.
    ::raise(signal);
}

}  // namespace

void handle_ending_signals() {
    struct sigaction action {};
    action.sa_handler = on_ending_signal;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigemptyset(&action.sa_mask);
    for (const int signal : kEndingSignals) {
        struct sigaction previous {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL) {
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
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : kEndingSignals) {
        sigaddset(&ending, signal);
    }
    ::sigprocmask(SIG_BLOCK, &ending, &previous_);
}

EndingSignalsHeld::~EndingSignalsHeld() {
    ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}
