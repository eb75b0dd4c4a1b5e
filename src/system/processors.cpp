#include "processors.hpp"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <string_view>

#include "control_groups.hpp"

namespace {

// The number at the start of `text` after any spaces, or `otherwise` ("max", nothing).
long long leading_number(std::string_view text, long long otherwise) {
    text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
    long long value = otherwise;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The CPUs that the quota of the group in `dir` allows, rounded up; 0 for none.
unsigned group_quota(bool v2, const std::string& dir) {
    long long quota = -1;  // v1's -1 and v2's "max" alike: none
    long long period = 0;
    if (v2) {
        const std::string text =
            read_kernel_file(dir + "/cpu.max");  // "max 100000", "150000 100000"
        quota = leading_number(text, -1);
        period =
            leading_number(std::string_view(text).substr(std::min(text.find(' '), text.size())), 0);
    } else {
        quota = leading_number(read_kernel_file(dir + "/cpu.cfs_quota_us"), -1);
        period = leading_number(read_kernel_file(dir + "/cpu.cfs_period_us"), 0);
    }
    if (quota <= 0 || period <= 0) {
        return 0;
    }
    return static_cast<unsigned>(std::min((quota - 1) / period + 1, 1ll * INT_MAX));
}

}  // namespace

unsigned affinity_processors() {
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

unsigned cpu_quota(const CpuSources& sources) {
    unsigned least = 0;  // none yet
    each_group(read_kernel_file(sources.cgroups), "cpu", [&](bool v2, std::string_view group) {
        up_to_root(v2 ? sources.v2_root : sources.v1_root, group, [&](const std::string& dir) {
            if (const unsigned quota = group_quota(v2, dir); quota != 0) {
                least = least == 0 ? quota : std::min(least, quota);
            }
        });
    });
    return least;
}
