#include "ranges.hpp"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "system/ending_signals.hpp"

namespace {

// A thread costs about 30 us to start and a range's warm-up a little more: a million points, a
// few milliseconds of drawing, pay for both many times over.
constexpr std::uint32_t kPointsPerThread = std::uint32_t{1} << 20;

// A drawing thread's stack holds a few hundred bytes of numbers and points: 64 KiB is ample,
// and 64 threads take 4 MiB of a 32-bit build's address space, not 512 as by default.
std::size_t stack_size() {
    return std::max(std::size_t{64} << 10, static_cast<std::size_t>(PTHREAD_STACK_MIN));
}

struct Shared {
    const RangedDrawing& drawing;
    std::uint32_t count;
    unsigned char* warmed;  // per range: drawn by its warm-up
    std::atomic<std::uint64_t> next{0};
    std::atomic<std::uint32_t> plotted{0};
};

// Takes the next range left and draws it, warmed; false when none is left.
bool draw_next(Shared& shared) {
    const std::uint64_t index = shared.next.fetch_add(1, std::memory_order_relaxed);
    if (index >= shared.count) {
        return false;
    }
    const RangedDrawing& d = shared.drawing;
    const auto range = static_cast<std::uint32_t>(index);
    if (d.draw_warmed(d.drawing, range)) {
        shared.warmed[range] = 1;
        shared.plotted.fetch_add(d.end(range) - range * d.range_points, std::memory_order_relaxed);
    }
    return true;
}

extern "C" void* draw_on_thread(void* shared) {
    while (draw_next(*static_cast<Shared*>(shared))) {
    }
    return nullptr;
}

// Up to `count` threads drawing the shared ranges: fewer when the system refuses one (a limit on
// processes), which costs time but not a pixel.
std::vector<pthread_t> start_threads(Shared& shared, unsigned count) {
    std::vector<pthread_t> started;
    started.reserve(count);
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) {
        return started;
    }
    // The cleanups of an ending signal belong to the calling thread: the new threads start with
    // those signals held, and keep them held.
    const EndingSignalsHeld held;
    if (::pthread_attr_setstacksize(&attributes, stack_size()) == 0) {
        for (pthread_t thread; started.size() < count; started.push_back(thread)) {
            if (::pthread_create(&thread, &attributes, draw_on_thread, &shared) != 0) {
                break;
            }
        }
    }
    ::pthread_attr_destroy(&attributes);
    return started;
}

}  // namespace

void draw_ranges(const RangedDrawing& drawing, unsigned threads, PlotProgress progress) {
    const std::uint32_t count = drawing.count();
    if (threads <= 1 || count <= 1) {
        for (std::uint32_t range = 0; range < count; ++range) {
            drawing.draw_handed_over(drawing.drawing, range);
            if (progress != nullptr) {
                progress(drawing.end(range));
            }
        }
        return;
    }
    std::vector<unsigned char> warmed(count);
    Shared shared{drawing, count, warmed.data()};
    const std::vector<pthread_t> started = start_threads(shared, threads - 1);
    while (draw_next(shared)) {
        if (progress != nullptr) {
            progress(shared.plotted.load(std::memory_order_relaxed));
        }
    }
    for (const pthread_t thread : started) {
        ::pthread_join(thread, nullptr);
    }
    for (std::uint32_t range = 0; range < count; ++range) {
        if (warmed[range] == 0) {
            drawing.draw_handed_over(drawing.drawing, range);
        }
    }
    if (progress != nullptr) {
        progress(drawing.points);
    }
}

unsigned drawing_threads(std::uint32_t points, const CpuSources& sources) {
    const unsigned pays = points / kPointsPerThread;
    if (pays <= 1) {
        return 1;
    }
    const unsigned quota = cpu_quota(sources);
    const unsigned cpus = std::min(pays, affinity_processors());
    return quota == 0 ? cpus : std::min(cpus, quota);
}

std::uint64_t threads_footprint(unsigned threads) {
    // Each stack has a guard page below it, and its thread a handle.
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return std::uint64_t{threads} * (stack_size() + page + sizeof(pthread_t));
}
