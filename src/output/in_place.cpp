#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include "files/identity.hpp"
#include "space.hpp"
#include "system/report.hpp"
#include "ways.hpp"

namespace {

// Tries `attempt` until it gives anything but EWOULDBLOCK or `wait` has passed, `waiting` told
// at the first refusal. The result of its last try.
template <typename Attempt>
int within(std::chrono::milliseconds wait, void (*waiting)(), Attempt attempt) {
    constexpr std::chrono::milliseconds kPause{50};
    int result = attempt();
    for (auto waited = std::chrono::milliseconds::zero();
         result == -1 && errno == EWOULDBLOCK && waited < wait; waited += kPause) {
        if (waited == std::chrono::milliseconds::zero() && waiting != nullptr) {
            waiting();
        }
        const timespec pause{0, std::chrono::nanoseconds(kPause).count()};
        ::nanosleep(&pause, nullptr);
        result = attempt();
    }
    return result;
}

}  // namespace

// Opens the old file to write, without waiting on what may have taken its place meanwhile (a
// FIFO). A lease on it (a file server's) is broken by the kernel as for any writer, within the
// same bound as a lock.
Prepared InPlaceWay::open_file(const WayContext& context) {
    const PathEnd& end = facts_.end;
    // One of /proc's links is followed, as the walk did; any other name was walked to its end.
    const int flags =
        O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC | (end.through_kernel ? 0 : O_NOFOLLOW);
    const int fd = within(context.lock_wait, context.waiting,
                          [&] { return ::openat(end.folder.get(), end.base.c_str(), flags); });
    file_ = Descriptor(fd);
    if (fd < 0 || ::fcntl(fd, F_SETFL, 0) != 0 || ::fstat(fd, &info_) != 0) {
        const int error = errno;
        if (error == EWOULDBLOCK) {
            report(lock_line(context.name, static_cast<int>(context.lock_wait.count() / 1000)) +
                   cause(error));
            return Prepared::refused;
        }
        if (error == ENOENT || error == ELOOP || error == ENXIO) {
            return Prepared::again;  // the name leads elsewhere now
        }
        report(open_failure_line(context.name));
        return Prepared::refused;
    }
    return same_file(info_, facts_.info) ? Prepared::ready : Prepared::again;
}

// One writer at a time; a wait for another shows at once, and ends after `lock_wait`. Where
// the file system has no locks, one writer is all one can hope.
Prepared InPlaceWay::lock(const WayContext& context) {
    const int fd = file_.get();
    if (within(context.lock_wait, context.waiting,
               [fd] { return ::flock(fd, LOCK_EX | LOCK_NB); }) == 0 ||
        errno != EWOULDBLOCK) {
        return Prepared::ready;
    }
    report(lock_line(context.name, static_cast<int>(context.lock_wait.count() / 1000)) +
           cause(EWOULDBLOCK));
    return Prepared::refused;
}

Prepared InPlaceWay::prepare(const WayContext& context) {
    if (const Prepared opened = open_file(context); opened != Prepared::ready) {
        return opened;
    }
    if (const Prepared locked = lock(context); locked != Prepared::ready) {
        return locked;
    }
    // The run that held the lock may have replaced or removed the file meanwhile.
    const PathEnd& end = facts_.end;
    struct stat now {};
    if (::fstatat(end.folder.get(), end.base.c_str(), &now,
                  end.through_kernel ? 0 : AT_SYMLINK_NOFOLLOW) != 0 ||
        !same_file(now, info_) || ::fstat(file_.get(), &info_) != 0) {
        return Prepared::again;
    }
    capability_ = capability_of(file_.get());
    const auto reusable = static_cast<std::uint64_t>(info_.st_blocks) * 512;
    return reserve_space(file_.get(), facts_.file_system, context.length, true, reusable,
                         context.name)
               ? Prepared::ready
               : Prepared::refused;
}

// Where the old text is longer, the new bytes reach the disk before its tail is cut, so that a
// power loss never leaves the old text cut short; then the cut, made durable too. The write took
// the set-ID bits and the capability off: given back, and said when they cannot be.
bool InPlaceWay::commit(const WayContext& context) {
    const int fd = file_.get();
    const auto synced = [fd] { return restarted_on_eintr([fd] { return ::fsync(fd); }) == 0; };
    const auto length = static_cast<off_t>(context.length);
    const bool cut = info_.st_size > length;
    int not_given = 0;
    if ((cut && restarted_on_eintr([fd] { return ::fdatasync(fd); }) != 0) ||
        ::ftruncate(fd, length) != 0 ||
        (not_given = give_back_after_write(fd, info_.st_mode, capability_), !synced())) {
        const int error = errno;
        discard();
        report(write_failure_line(context.name) + cause(error));
        return false;
    }
    file_.close();  // synced: a close that fails now loses nothing
    if (not_given != 0) {
        report(give_back_line(context.name) + cause(not_given));
        return false;
    }
    return true;
}

// The space reserved past what got into the file goes back to the file system: cutting a file
// to its own length frees what lies beyond its end. The lock goes with the descriptor.
void InPlaceWay::discard() {
    struct stat now {};
    if (file_.get() >= 0 && ::fstat(file_.get(), &now) == 0) {
        [[maybe_unused]] const int freed = ::ftruncate(file_.get(), now.st_size);
    }
    file_.close();
}
