// Preloaded into the end-to-end runs: every call of time() gives the same second, so that the
// triangle's seed, and with it its picture, is known; and, on demand, a monotonic clock of a
// fixed step (below).
#include <dlfcn.h>

#include <cstdlib>
#include <ctime>

extern "C" std::time_t time(std::time_t* t) noexcept {
    if (t != nullptr) {
        *t = FRACTXBM_PINNED_TIME;
    }
    return FRACTXBM_PINNED_TIME;
}

// With FRACTXBM_CLOCK_STEP set to a number of milliseconds, the monotonic clock moves on by that
// much at each reading and stands still in between: what the progress line shows then follows
// the run's own steps, however busy the machine.
extern "C" int clock_gettime(clockid_t clock, timespec* now) noexcept {
    static const char* const step = std::getenv("FRACTXBM_CLOCK_STEP");
    static long long readings = 0;
    if (clock != CLOCK_MONOTONIC || step == nullptr) {
        using Real = int (*)(clockid_t, timespec*);
        static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "clock_gettime"));
        return real(clock, now);
    }
    const long long ms = ++readings * std::atoll(step);
    *now = {static_cast<std::time_t>(ms / 1000), static_cast<long>(ms % 1000 * 1000000)};
    return 0;
}
