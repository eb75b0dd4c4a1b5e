#include "system/ending_signals.hpp"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <utility>
#include <vector>

namespace {

int g_heard = -1;
void say(const char* what) {
    [[maybe_unused]] const auto n = ::write(g_heard, what, 1);
}

// Runs `body(signal)` in a child, without a core dump; how the child ended and what it said.
std::pair<int, std::string> in_child(void (*body)(int), int signal) {
    int heard[2];
    const pid_t child = ::pipe(heard) == 0 ? ::fork() : -1;
    if (child == 0) {
        g_heard = heard[1];
        const rlimit no_core{0, 0};
        ::setrlimit(RLIMIT_CORE, &no_core);
        body(signal);
        ::_exit(0);
    }
    ::close(heard[1]);
    std::string said;
    for (char c; ::read(heard[0], &c, 1) == 1;) {
        said += c;
    }
    ::close(heard[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return {status, said};
}

// Each signal that ends a run, sent while the run holds them back: nothing happens until it lets
// them through; then every cleanup listed runs, once however often it was listed, and the run
// dies of that very signal, as the shell that waits for it must see.
TEST(EndingSignals, EveryCleanupRunsThenTheSignalEndsTheRun) {
    std::vector<int> ending = {SIGHUP,  SIGINT,    SIGQUIT,   SIGTERM, SIGPIPE, SIGALRM,
                               SIGUSR1, SIGUSR2,   SIGVTALRM, SIGPROF, SIGXCPU, SIGPWR,
                               SIGIO,   SIGSTKFLT, SIGSYS,    SIGTRAP, SIGABRT};
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        ending.push_back(signal);
    }
    for (const int signal : ending) {
        const auto [status, said] = in_child(
            [](int sent) {
                static SignalCleanup a{[] { say("a"); }}, b{[] { say("b"); }};
                handle_ending_signals();
                clean_up_on_ending_signals(a);
                clean_up_on_ending_signals(b);
                clean_up_on_ending_signals(a);
                const EndingSignalsHeld held;
                ::raise(sent);
                say("h");
            },
            signal);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal);
        EXPECT_EQ(said, "hba") << strsignal(signal);
    }
}

// A handler already there stays; the signals of a fault in the run itself, and SIGXFSZ, keep
// whatever they had.
TEST(EndingSignals, OtherHandlersAndFaultSignalsLeftAlone) {
    for (const int signal : {SIGUSR2, SIGRTMAX, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGXFSZ}) {
        const auto [status, said] = in_child(
            [](int sent) {
                if (sent == SIGUSR2 || sent == SIGRTMAX) {
                    std::signal(sent, [](int) {});
                }
                struct sigaction before {
                }, after{};
                ::sigaction(sent, nullptr, &before);
                handle_ending_signals();
                ::sigaction(sent, nullptr, &after);
                say(after.sa_handler == before.sa_handler ? "=" : "!");
            },
            signal);
        EXPECT_EQ(said, "=") << strsignal(signal);
    }
}

}  // namespace
