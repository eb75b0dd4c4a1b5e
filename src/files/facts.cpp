#include "facts.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <unistd.h>

#include <charconv>

namespace {

bool may_write(const PathEnd& end) {
    if (::faccessat(end.node.get(), "", W_OK, AT_EMPTY_PATH | AT_EACCESS) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
    // A kernel too old to tell of a node by its descriptor: asked by its name.
    return ::faccessat(end.folder.get(), end.base.c_str(), W_OK,
                       AT_EACCESS | (end.through_kernel ? 0 : AT_SYMLINK_NOFOLLOW)) == 0;
}

// The descriptor N of this run that a name ending in /proc/self/fd/N leads to, where it is open
// for writing: the run writes through it, as the shell opened it (">>" appends). -1 otherwise.
int own_descriptor(const PathEnd& end, const struct stat& folder_info, const struct stat& info) {
    int fd = -1;
    const char* const last = end.base.data() + end.base.size();
    struct stat own {};
    struct stat opened {};
    if (!end.through_kernel || std::from_chars(end.base.data(), last, fd).ptr != last ||
        ::stat("/proc/self/fd", &own) != 0 || !same_file(own, folder_info) ||
        ::fstat(fd, &opened) != 0 || !same_file(opened, info)) {
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    const int access = flags & O_ACCMODE;
    return flags != -1 && (flags & O_PATH) == 0 && (access == O_WRONLY || access == O_RDWR) ? fd
                                                                                            : -1;
}

}  // namespace

DestinationFacts gather_facts(const std::string& name, const Walker& walker, bool own_output) {
    DestinationFacts facts;
    facts.walker = walker;
    facts.own_output = own_output;
    Walk walk = walk_path(name, walker);
    facts.error = walk.error;
    facts.planted = walk.planted;
    facts.end = std::move(walk.end);
    const int folder = facts.end.folder.get();
    const int node = facts.end.node.get();
    if (facts.error != 0 || ::fstat(folder, &facts.folder_info) != 0 ||
        (node >= 0 && ::fstat(node, &facts.info) != 0)) {
        facts.error = facts.error != 0 ? facts.error : errno;
        return facts;
    }
    facts.file_system = file_system_type(node >= 0 ? node : folder);
    facts.names_fixed = statx_attributes(folder, STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE) != 0;
    if (node < 0) {
        return facts;
    }
    facts.mounted_on_name = statx_attributes(node, STATX_ATTR_MOUNT_ROOT) != 0;
    facts.writable = may_write(facts.end);
    struct stat out {};
    facts.standard_output = ::fstat(STDOUT_FILENO, &out) == 0 && same_file(out, facts.info);
    facts.descriptor = own_descriptor(facts.end, facts.folder_info, facts.info);
    return facts;
}

bool kept_in_memory(const DestinationFacts& facts) {
    return facts.file_system == TMPFS_MAGIC || facts.file_system == RAMFS_MAGIC;
}
