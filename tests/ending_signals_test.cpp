#include "system/ending_signals.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace {

int g_heard = -1;
void undo_a() {
    [[maybe_unused]] const auto n = ::write(g_heard, "a", 1);
}
void undo_b() {
    [[maybe_unused]] const auto n = ::write(g_heard, "b", 1);
}

// In a child run: every cleanup listed runs, once however often it was listed, and the run then
// dies of the signal itself, as the shell that waits for it must see.
TEST(EndingSignals, EveryCleanupRunsThenTheSignalEndsTheRun) {
    for (const int signal : {SIGTERM, SIGXCPU, SIGUSR1}) {
        int heard[2];
        ASSERT_EQ(::pipe(heard), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            g_heard = heard[1];
            static SignalCleanup a{undo_a}, b{undo_b};
            handle_ending_signals();
            clean_up_on_ending_signals(a);
            clean_up_on_ending_signals(b);
            clean_up_on_ending_signals(a);
            ::raise(signal);
            ::_exit(0);
        }
        ::close(heard[1]);
        std::string undone;
        char c;
        while (::read(heard[0], &c, 1) == 1) {
            undone += c;
        }
        ::close(heard[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal);
        EXPECT_EQ(undone, "ba") << strsignal(signal);
    }
}

}  // namespace
