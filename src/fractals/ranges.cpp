#include "ranges.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
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

// The processors of the run's affinity, however many the machine has.
unsigned affinity_cpus() {
    for (std::size_t cpus = 1024; cpus <= (std::size_t{1} << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) {
            break;
        }
        const std::size_t size = CPU_ALLOC_SIZE(cpus);
        const int got = ::sched_getaffinity(0, size, set);
        const int count = got == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (got == 0 || errno != EINVAL) {
            return static_cast<unsigned>(std::max(count, 1));
        }
    }
    return 1;
}

// The numbers that `format` reads at the start of the file at `path`; false when it cannot.
// The C library's streams, not C++'s, whose locales would weigh a megabyte in the program.
template <class... Numbers>
bool scan(const std::string& path, const char* format, Numbers*... numbers) {
    std::FILE* file = std::fopen(path.c_str(), "re");
    if (file == nullptr) {
        return false;
    }
    const bool read = std::fscanf(file, format, numbers...) == sizeof...(numbers);
    std::fclose(file);
    return read;
}

// The CPUs that the quota of the group in `dir` allows, rounded up; 0 for none.
unsigned group_quota(bool v2, const std::string& dir) {
    long long quota = -1;  // v1's -1 and v2's "max" alike: none
    long long period = 0;
    if (v2) {
        char text[24] = {};  // "max 100000" or "150000 100000"
        scan(dir + "/cpu.max", "%23s %lld", text, &period);
        std::from_chars(text, text + sizeof text, quota);
    } else {
        scan(dir + "/cpu.cfs_quota_us", "%lld", &quota);
        scan(dir + "/cpu.cfs_period_us", "%lld", &period);
    }
    if (quota <= 0 || period <= 0) {
        return 0;
    }
    return static_cast<unsigned>(std::min((quota - 1) / period + 1, 1ll * INT_MAX));
}

// The least of two quotas, 0 standing for none.
unsigned least_quota(unsigned a, unsigned b) {
    return a == 0 || b == 0 ? std::max(a, b) : std::min(a, b);
}

// The tightest quota from `group` up to the root of its hierarchy.
unsigned path_quota(bool v2, const std::string& root, std::string group) {
    unsigned least = 0;
    for (;;) {
        if (group == "/") {
            group.clear();
        }
        least = least_quota(least, group_quota(v2, root + group));
        const std::size_t parent = group.find_last_of('/');
        if (group.empty() || parent == std::string::npos) {
            return least;
        }
        group.resize(parent);
    }
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

unsigned cpu_quota(const CpuSources& sources) {
    unsigned least = 0;
    std::FILE* cgroups = std::fopen(sources.cgroups.c_str(), "re");
    if (cgroups == nullptr) {
        return least;
    }
    char* text = nullptr;
    std::size_t room = 0;
    // "0::/path" for v2; "N:cpu,cpuacct:/path", the cpu controller among others, for v1.
    for (ssize_t length; (length = ::getline(&text, &room, cgroups)) > 0;) {
        const std::string line(text, static_cast<std::size_t>(length) - (text[length - 1] == '\n'));
        const std::size_t first = line.find(':');
        const std::size_t second = line.find(':', first + 1);
        if (second == std::string::npos) {
            continue;
        }
        const std::string controllers = ',' + line.substr(first + 1, second - first - 1) + ',';
        const std::string group = line.substr(second + 1);
        if (line.starts_with("0::")) {
            least = least_quota(least, path_quota(true, sources.v2_root, group));
        } else if (controllers.find(",cpu,") != std::string::npos) {
            least = least_quota(least, path_quota(false, sources.v1_root, group));
        }
    }
    std::free(text);
    std::fclose(cgroups);
    return least;
}

unsigned drawing_threads(std::uint32_t points, const CpuSources& sources) {
    const unsigned pays = points / kPointsPerThread;
    if (pays <= 1) {
        return 1;
    }
    return least_quota(std::min(pays, affinity_cpus()), cpu_quota(sources));
}

std::uint64_t threads_footprint(unsigned threads) {
    // Each stack has a guard page below it, and its thread a handle.
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    return std::uint64_t{threads} * (stack_size() + page + sizeof(pthread_t));
}
