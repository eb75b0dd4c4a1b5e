#include "system/ending_signals.hpp"

#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void say(const char* what) {
    [[maybe_unused]] const auto n = ::write(STDERR_FILENO, what, 1);
}

// Lists two cleanups, the first twice, then raises `signal` while the ending signals are held.
void raise_held(int signal) {
    static SignalCleanup a{[] { say("a"); }};
    static SignalCleanup b{[] { say("b"); }};
    handle_ending_signals();
    clean_up_on_ending_signals(a);
    clean_up_on_ending_signals(b);
    clean_up_on_ending_signals(a);
    const EndingSignalsHeld held;
    ::raise(signal);
    say("h");
}

// Each signal that ends a run, sent while the run holds them back: nothing happens until it lets
// them through; then every cleanup listed runs, once however often it was listed, and the run
// dies of that very signal, as the shell that waits for it must see. No core is dumped.
TEST(EndingSignals, EveryCleanupRunsThenTheSignalEndsTheRun) {
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    std::vector<int> ending = {SIGHUP,  SIGINT,    SIGQUIT,   SIGTERM, SIGPIPE, SIGALRM,
                               SIGUSR1, SIGUSR2,   SIGVTALRM, SIGPROF, SIGXCPU, SIGPWR,
                               SIGIO,   SIGSTKFLT, SIGSYS,    SIGTRAP, SIGABRT};
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        ending.push_back(signal);
    }
    for (const int signal : ending) {
        EXPECT_EXIT(raise_held(signal), testing::KilledBySignal(signal), "^hba$")
            << strsignal(signal);
    }
}

// Exits with 0 when installing the run's handlers leaves that of `signal` as it was, after one of
// its own for SIGUSR2 and SIGRTMAX.
void exit_if_handler_kept(int signal) {
    if (signal == SIGUSR2 || signal == SIGRTMAX) {
        std::signal(signal, [](int) {});
    }
    struct sigaction before = {};
    struct sigaction after = {};
    ::sigaction(signal, nullptr, &before);
    handle_ending_signals();
    ::sigaction(signal, nullptr, &after);
    std::exit(after.sa_handler == before.sa_handler ? 0 : 1);
}

// A handler already there stays; the signals of a fault in the run itself, and SIGXFSZ, keep
// whatever they had.
TEST(EndingSignals, OtherHandlersAndFaultSignalsLeftAlone) {
    for (const int signal : {SIGUSR2, SIGRTMAX, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGXFSZ}) {
        EXPECT_EXIT(exit_if_handler_kept(signal), testing::ExitedWithCode(0), "")
            << strsignal(signal);
    }
}

}  // namespace
