// How many processors this process may keep busy: those of its affinity, within its control
// groups' CPU quotas.
#pragma once

#include <string>

// Where the kernel tells of the CPU time a process may take; tests point these elsewhere.
struct CpuSources {
    std::string cgroups = "/proc/self/cgroup";
    std::string v2_root = "/sys/fs/cgroup";
    std::string v1_root = "/sys/fs/cgroup/cpu";
};

// The processors of the run's affinity (as taskset sets it), however many the machine has.
unsigned affinity_processors();

// The CPUs that the quotas of this process's control groups (v1 or v2, this group and those
// above it) allow, rounded up to a whole one; 0 for no quota.
unsigned cpu_quota(const CpuSources& sources = {});
