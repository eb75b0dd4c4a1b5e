#include "hidden_name.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "system/ending_signals.hpp"

namespace hidden_name {
namespace {

// Set and cleared with the ending signals held, so that the handler never removes a name that is
// no longer this run's.
struct Entry {
    std::atomic<int> folder{-1};
    std::atomic<bool> listed{false};
    char name[NAME_MAX + 1] = {};
};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

Entry g_entry;

void remove_listed() {
    if (g_entry.listed.load()) {
        ::unlinkat(g_entry.folder.load(), g_entry.name, 0);
    }
}
SignalCleanup g_cleanup{remove_listed};

// ".BASE.XXXXXXXX", with a random part that no other user can guess and plant first.
std::string random_name(const std::string& base) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != sizeof random) {
        // Without the kernel's randomness, the clock and the address of a local: still unlikely.
        const auto fallback = static_cast<unsigned long long>(::getpid()) ^
                              reinterpret_cast<std::uintptr_t>(&random) ^
                              static_cast<unsigned long long>(std::time(nullptr));
        std::memcpy(random, &fallback, sizeof random);
    }
    std::string name = "." + base.substr(0, NAME_MAX - 10) + ".";
    for (const unsigned char byte : random) {
        name += kLetters[byte % (sizeof kLetters - 1)];
    }
    return name;
}

void forget() {
    g_entry.listed = false;
    g_entry.name[0] = '\0';
}

}  // namespace

bool take(int folder, const std::string& base, bool (*make)(void* context, const char* name),
          void* context) {
    const EndingSignalsHeld held;
    clean_up_on_ending_signals(g_cleanup);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = random_name(base);
        if (make(context, name.c_str())) {
            std::memcpy(g_entry.name, name.c_str(), name.size() + 1);
            g_entry.folder = folder;
            g_entry.listed = true;
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

const char* current() {
    return g_entry.name;
}

bool rename_over(const std::string& base) {
    const EndingSignalsHeld held;
    if (::renameat(g_entry.folder, g_entry.name, g_entry.folder, base.c_str()) != 0) {
        return false;
    }
    forget();
    return true;
}

void remove() {
    const EndingSignalsHeld held;
    remove_listed();
    forget();
}

}  // namespace hidden_name
