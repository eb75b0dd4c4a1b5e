#include "space.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>

#include "files/descriptor.hpp"
#include "system/report.hpp"

namespace {

// The largest file that may grow on a file system of this type: the file-size limit, and FAT's
// 4 GiB - 1; other file systems say so when asked to reserve.
std::uint64_t size_limit(std::uint32_t file_system) {
    std::uint64_t limit = UINT64_MAX;
    if (rlimit fsize{}; ::getrlimit(RLIMIT_FSIZE, &fsize) == 0 && fsize.rlim_cur != RLIM_INFINITY) {
        limit = fsize.rlim_cur;
    }
    if (file_system == MSDOS_SUPER_MAGIC) {
        limit = std::min(limit, std::uint64_t{UINT32_MAX});
    }
    return limit;
}

// Whether writing over a file's blocks on this file system reuses them. On a copy-on-write file
// system (btrfs, or XFS with a file that shares its blocks) every block written takes a new one.
bool writes_over(std::uint32_t file_system) {
    return file_system == EXT4_SUPER_MAGIC || file_system == TMPFS_MAGIC;
}

// The free space, in whole blocks, an old file's blocks (`reusable` bytes) counted as room.
bool fits_in_free_space(int fd, std::uint64_t length, std::uint64_t reusable,
                        const std::string& name) {
    struct statvfs space {};
    if (::fstatvfs(fd, &space) != 0 || space.f_blocks == 0 || space.f_frsize == 0) {
        return true;  // a file system that tells nothing of its space
    }
    const std::uint64_t needed = (length + space.f_frsize - 1) / space.f_frsize * space.f_frsize;
    const std::uint64_t available = std::uint64_t{space.f_bavail} * space.f_frsize + reusable;
    if (needed > available) {
        report(no_space_line(name) + figures(needed, available, "disponibles"));
        return false;
    }
    return true;
}

}  // namespace

bool reserve_space(int fd, std::uint32_t file_system, std::uint64_t length, bool keep_size,
                   std::uint64_t reusable, const std::string& name) {
    if (const std::uint64_t limit = size_limit(file_system); length > limit) {
        report(too_long_line(name) + figures(length, limit, "permis"));
        return false;
    }
    // A rewrite in place over blocks that are not written over needs new ones for all of its
    // text, of which a reservation that keeps the old blocks says nothing.
    const bool over = writes_over(file_system);
    if (keep_size && !over && !fits_in_free_space(fd, length, 0, name)) {
        return false;
    }
    if (length == 0 || restarted_on_eintr([&] {
                           return ::fallocate(fd, keep_size ? FALLOC_FL_KEEP_SIZE : 0, 0,
                                              static_cast<off_t>(length));
                       }) == 0) {
        return true;
    }
    const int error = errno;
    if (error == EOPNOTSUPP || error == ENOSYS) {
        return fits_in_free_space(fd, length, over ? reusable : 0, name);
    }
    if (error == EFBIG) {
        report(too_long_line(name) + required(length) + cause(error));
    } else if (error == ENOSPC || error == EDQUOT) {
        report(no_space_line(name) + required(length) + cause(error));
    } else {
        report(open_failure_line(name));
    }
    return false;
}
