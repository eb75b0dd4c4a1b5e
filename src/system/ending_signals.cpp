#include "ending_signals.hpp"

#include <atomic>
#include <csignal>

namespace {

constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM};

std::atomic<SignalCleanup> g_cleanups[2];
static_assert(std::atomic<SignalCleanup>::is_always_lock_free);

extern "C" void on_ending_signal(int signal) {
    for (const auto& cleanup : g_cleanups) {
        if (const SignalCleanup undo = cleanup.load()) {
            undo();
        }
    }
    // The handler was reset on entry: raised again, the signal ends the run as it would have.
    ::raise(signal);
}

}  // namespace

void clean_up_on_ending_signals(SignalCleanup cleanup) {
    // Slots fill in order and never empty: the handler went in with the first cleanup.
    const bool handler_in_place = g_cleanups[0].load() != nullptr;
    for (auto& slot : g_cleanups) {
        const SignalCleanup held = slot.load();
        if (held == cleanup) {
            return;
        }
        if (held == nullptr) {
            slot = cleanup;
            break;
        }
    }
    if (handler_in_place) {
        return;
    }
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
