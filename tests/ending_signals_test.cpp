#include "system/ending_signals.hpp"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

namespace {

int g_heard = -1;
void say(const char* what) {
    [[maybe_unused]] const auto n = ::write(g_heard, what, 1);
}
void undo_a() {
    say("a");
}
void undo_b() {
    say("b");
}
void a_handler_of_its_own(int) {}

// Runs `body` in a child run; returns how it ended and what it wrote to g_heard.
template <typename Body>
std::pair<int, std::string> in_child(Body body) {
    int heard[2];
    if (::pipe(heard) != 0) {
        return {-1, ""};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        g_heard = heard[1];
        const rlimit no_core{0, 0};
        ::setrlimit(RLIMIT_CORE, &no_core);
        body();
        ::_exit(0);
    }
    ::close(heard[1]);
    std::string said;
    char c;
    while (::read(heard[0], &c, 1) == 1) {
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
        const auto [status, said] = in_child([signal] {
            static SignalCleanup a{undo_a}, b{undo_b};
            handle_ending_signals();
            clean_up_on_ending_signals(a);
            clean_up_on_ending_signals(b);
            clean_up_on_ending_signals(a);
            const EndingSignalsHeld held;
            ::raise(signal);
            say("h");
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal);
        EXPECT_EQ(said, "hba") << strsignal(signal);
    }
}

// A handler already there stays; the signals of a fault in the run itself, and SIGXFSZ, keep
// whatever they had.
TEST(EndingSignals, OtherHandlersAndFaultSignalsLeftAlone) {
    for (const int signal : {SIGUSR2, SIGRTMAX, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGXFSZ}) {
        const auto [status, said] = in_child([signal] {
            if (signal == SIGUSR2 || signal == SIGRTMAX) {
                std::signal(signal, a_handler_of_its_own);
            }
            struct sigaction before {
            }, after{};
            ::sigaction(signal, nullptr, &before);
            handle_ending_signals();
            ::sigaction(signal, nullptr, &after);
            say(after.sa_handler == before.sa_handler ? "=" : "!");
        });
        EXPECT_EQ(said, "=") << strsignal(signal);
    }
}

}  // namespace
