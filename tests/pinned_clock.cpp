// Preloaded into the end-to-end runs: every call of time() gives the same second, so that the
// triangle's seed, and with it its picture, is known.
#include <ctime>

extern "C" std::time_t time(std::time_t* t) noexcept {
    if (t != nullptr) {
        *t = FRACTXBM_PINNED_TIME;
    }
    return FRACTXBM_PINNED_TIME;
}
