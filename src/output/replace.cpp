#include <fcntl.h>
#include <linux/magic.h>
#include <unistd.h>

#include "files/identity.hpp"
#include "hidden_name.hpp"
#include "space.hpp"
#include "system/report.hpp"
#include "ways.hpp"

namespace {

// The name by which the kernel lets a file with no name of its own be linked into a folder.
std::string proc_path(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// A make of a new file that says that the run may not add a name to the folder, rather than
// that something failed.
bool may_not_add(int error) {
    return error == EACCES || error == EROFS || error == EPERM;
}

struct Making {
    int folder;
    mode_t mode;
    Descriptor* made;
};

bool make_hidden(void* context, const char* name) {
    auto& making = *static_cast<Making*>(context);
    *making.made = Descriptor(
        ::openat(making.folder, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, making.mode));
    return making.made->get() >= 0;
}

bool link_made(void* context, const char* name) {
    const auto& making = *static_cast<Making*>(context);
    return ::linkat(AT_FDCWD, proc_path(making.made->get()).c_str(), making.folder, name,
                    AT_SYMLINK_FOLLOW) == 0;
}

bool synced(int fd) {
    return restarted_on_eintr([fd] { return ::fsync(fd); }) == 0;
}

}  // namespace

// Opens the old file for its identity only, to read where the run may: a reader's lock or lease
// on it holds nothing up.
Prepared ReplaceWay::open_old(const WayContext& context) {
    const PathEnd& end = facts_.end;
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    old_ = Descriptor(::openat(end.folder.get(), end.base.c_str(), O_RDONLY | kFlags));
    if (old_.get() < 0 && errno == EACCES) {
        old_ = Descriptor(::openat(end.folder.get(), end.base.c_str(), O_WRONLY | kFlags));
    }
    struct stat opened {};
    if (old_.get() >= 0 && ::fstat(old_.get(), &opened) == 0) {
        return same_file(opened, facts_.info) ? Prepared::ready : Prepared::again;
    }
    if (errno == ENOENT || errno == ELOOP) {
        return Prepared::again;  // the name leads elsewhere now
    }
    report(open_failure_line(context.name));
    return Prepared::refused;
}

// The new file, with the old one's identity. What the run may not do here (add a name, give
// that identity) makes a rewrite in place instead; any other failure is a refusal.
Prepared ReplaceWay::make_new(const WayContext& context) {
    if (!make_file()) {
        const int error = errno;
        if (!facts_.free() && may_not_add(error)) {
            return Prepared::in_place;
        }
        report(error == ENOSPC || error == EDQUOT ? no_space_line(context.name) + cause(error)
                                                  : open_failure_line(context.name));
        return Prepared::refused;
    }
    const int error = facts_.free() ? 0 : give_identity(old_.get(), facts_.info, made_.get());
    if (error == 0) {
        return Prepared::ready;
    }
    discard();
    if (may_not_give(error)) {
        return Prepared::in_place;
    }
    report(open_failure_line(context.name));
    return Prepared::refused;
}

Prepared ReplaceWay::prepare(const WayContext& context) {
    folder_to_sync_ =
        Descriptor(::openat(facts_.end.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Prepared prepared = facts_.free() ? Prepared::ready : open_old(context);
    if (prepared == Prepared::ready) {
        prepared = make_new(context);
    }
    if (prepared == Prepared::ready &&
        !reserve_space(made_.get(), facts_.file_system, context.length, false, 0, context.name)) {
        prepared = Prepared::refused;
    }
    return prepared;
}

// Makes the new file in the folder: with no name where the system allows (the kernel then drops
// it by itself, whatever ends the run), else under a hidden name, where one can go again.
bool ReplaceWay::make_file() {
    const int folder = facts_.end.folder.get();
    const mode_t mode = facts_.free() ? 0666 : 0600;
    made_ = Descriptor(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (made_.get() >= 0) {
        // Naming it later goes through /proc, which a container may lack.
        if (::access(proc_path(made_.get()).c_str(), F_OK) == 0) {
            return true;
        }
        made_.close();
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return false;
    }
    if (facts_.names_fixed) {
        errno = EPERM;  // a hidden name could never go again
        return false;
    }
    Making making{folder, mode, &made_};
    hidden_ = hidden_name::take(folder, facts_.end.base, make_hidden, &making);
    return hidden_;
}

// Puts the whole new file in the name's place at once. It is synced while it has a name and
// before the destination's name leads to it, so that a machine that stops shows the old file or
// the new one, never a name over lost blocks: most file systems hold the sync of a file with no
// name, to which a free name is then linked; btrfs does not, so there a free name too is taken
// by a rename from a hidden name.
bool ReplaceWay::name_new_file() {
    const int folder = facts_.end.folder.get();
    const std::string& base = facts_.end.base;
    if (!facts_.free() && (errno = give_identity(old_.get(), facts_.info, made_.get())) != 0) {
        return false;  // the write took set-ID bits off: given again
    }
    if (!hidden_ && facts_.free() && facts_.file_system != BTRFS_SUPER_MAGIC) {
        Making making{folder, 0, &made_};
        if (!synced(made_.get())) {
            return false;
        }
        if (link_made(&making, base.c_str())) {
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
        // Another run made the file meanwhile: replaced as an old one would be.
    }
    Making making{folder, 0, &made_};
    if (!hidden_ && !(hidden_ = hidden_name::take(folder, base, link_made, &making))) {
        return false;
    }
    if (!synced(made_.get()) || !hidden_name::rename_over(base)) {
        return false;
    }
    hidden_ = false;
    return true;
}

bool ReplaceWay::commit(const WayContext& context) {
    if (!name_new_file()) {
        const int error = errno;
        discard();
        report(write_failure_line(context.name) + cause(error));
        return false;
    }
    // Synced and named: a close that fails now loses nothing.
    made_.close();
    old_.close();
    // The new name itself reaches the disk. A folder the run may not read cannot be made
    // durable; the picture is whole.
    if (folder_to_sync_.get() >= 0 && !synced(folder_to_sync_.get())) {
        report(folder_sync_line(context.name) + cause(errno));
        return false;
    }
    return true;
}

void ReplaceWay::discard() {
    made_.close();
    if (hidden_) {
        hidden_name::remove();
        hidden_ = false;
    }
}
