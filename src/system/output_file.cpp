#include "output_file.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <utility>

#include "ending_signals.hpp"
#include "file_identity.hpp"
#include "progress.hpp"
#include "report.hpp"

// A text passes 4 GiB: file sizes and offsets of 64 bits on every target, 32-bit ones included.
static_assert(sizeof(off_t) == 8);

namespace {

// The hidden name of a new file, in its folder, for the signal handler to remove. Set and
// cleared with the ending signals held, so that the handler never removes a name that is no
// longer this run's.
std::atomic<int> g_hidden_folder{-1};
char g_hidden_name[NAME_MAX + 1];
std::atomic<bool> g_hidden_listed{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

void remove_hidden() {
    if (g_hidden_listed.load()) {
        ::unlinkat(g_hidden_folder.load(), g_hidden_name, 0);
    }
}
SignalCleanup g_remove_hidden{remove_hidden};

// Lists `name` in `folder` for the signal handler. The caller holds the ending signals.
void list_hidden(int folder, const std::string& name) {
    clean_up_on_ending_signals(g_remove_hidden);
    g_hidden_listed = false;
    std::memcpy(g_hidden_name, name.c_str(), name.size() + 1);
    g_hidden_folder = folder;
    g_hidden_listed = true;
}

void forget_hidden() {
    g_hidden_listed = false;
}

// ".NAME.XXXXXXXX", with a random part that no other user can guess and plant first.
std::string random_hidden_name(const std::string& base) {
    static constexpr char kLetters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[8] = {};
    if (::getrandom(random, sizeof random, 0) != sizeof random) {
        // Without the kernel's randomness, the clock and the address of a local: still unlikely.
        const auto fallback = static_cast<unsigned long long>(::getpid()) ^
                              reinterpret_cast<std::uintptr_t>(&random) ^
                              static_cast<unsigned long long>(std::time(nullptr));
        std::memcpy(random, &fallback, sizeof random);
    }
    std::string name = "." + base.substr(0, NAME_MAX - 10) + ".";
    for (const unsigned char byte : random) {
        name += kLetters[byte % (sizeof kLetters - 1)];
    }
    return name;
}

// Gives a hidden name to what `make` makes (false with EEXIST when the name is taken), and
// lists it for the signal handler. The caller holds the ending signals.
template <typename Make>
std::string take_hidden_name(int folder, const std::string& base, Make make) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string hidden = random_hidden_name(base);
        if (make(hidden.c_str())) {
            list_hidden(folder, hidden);
            return hidden;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return {};
}

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Calls `call` again as long as a signal cuts it short; its result otherwise.
template <typename Call>
int restarted_on_eintr(Call call) {
    int result;
    while ((result = call()) != 0 && errno == EINTR) {
    }
    return result;
}

// The name by which the kernel lets a file with no name of its own be linked into a folder.
std::string proc_path(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

std::uint64_t statx_attributes(int fd, std::uint64_t wanted) {
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH, 0, &info) != 0) {
        return 0;
    }
    return info.stx_attributes_mask & info.stx_attributes & wanted;
}

// Whether the file is mounted on its name (a bind mount of a single file, as containers use):
// its name then cannot be given to another file.
bool mounted_on(int fd) {
    return statx_attributes(fd, STATX_ATTR_MOUNT_ROOT) != 0;
}

// An append-only folder lets names in but none out or over; an immutable one, neither.
bool names_fixed(int folder) {
    return statx_attributes(folder, STATX_ATTR_APPEND | STATX_ATTR_IMMUTABLE) != 0;
}

// In a sticky folder, only the file's owner, the folder's or root may replace a file.
bool sticky_keeps(const struct stat& folder_info, const struct stat& file_info) {
    const uid_t self = ::geteuid();
    return (folder_info.st_mode & S_ISVTX) != 0 && self != 0 && file_info.st_uid != self &&
           folder_info.st_uid != self;
}

// A make of a new file that says that the run may not add a name to the folder, rather than
// that something failed.
bool may_not_add(int error) {
    return error == EACCES || error == EROFS || error == EPERM;
}

// The type of the file system that `fd` is on, as the 32-bit number it is whatever the width
// of f_type; 0 when it cannot tell.
std::uint32_t file_system_type(int fd) {
    struct statfs info {};
    return ::fstatfs(fd, &info) == 0 ? static_cast<std::uint32_t>(info.f_type) : 0;
}

// Whether writing over a file's blocks on a file system of this type reuses them. On a
// copy-on-write file system (btrfs, or XFS with a file that shares its blocks) every block
// written takes a new one; only those known to write in place count an old file's blocks as
// space for its rewrite.
bool rewrites_in_place(std::uint32_t type) {
    return type == EXT4_SUPER_MAGIC || type == TMPFS_MAGIC;
}

// Takes the lock of the old file, one writer at a time. A wait for another run shows on the
// progress line. Where the file system has no locks, one writer is all one can hope.
void lock(int fd) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
        return;
    }
    start_phase(Phase::waiting, 0);
    restarted_on_eintr([fd] { return ::flock(fd, LOCK_EX); });
}

// Makes a new file in `folder`: with no name where the system allows (the kernel then drops it
// by itself, whatever ends the run), else, where `hidden_allowed`, under a hidden name.
bool make_file(Destination::Replace& way, mode_t mode, bool hidden_allowed) {
    const int folder = way.end.folder.get();
    way.made = Descriptor(::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (way.made.get() >= 0) {
        // Naming it later goes through /proc, which a container may lack.
        if (::access(proc_path(way.made.get()).c_str(), F_OK) == 0) {
            return true;
        }
        way.made.close();
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return false;
    }
    if (!hidden_allowed) {
        errno = EPERM;  // a hidden name could never go again
        return false;
    }
    const EndingSignalsHeld held;
    way.hidden = take_hidden_name(folder, way.end.base, [&](const char* hidden) {
        way.made =
            Descriptor(::openat(folder, hidden, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        return way.made.get() >= 0;
    });
    return !way.hidden.empty();
}

void drop_new_file(Destination::Replace& way) {
    const EndingSignalsHeld held;
    way.made.close();
    if (!way.hidden.empty()) {
        ::unlinkat(way.end.folder.get(), way.hidden.c_str(), 0);
        forget_hidden();
        way.hidden.clear();
    }
}

// Puts the whole new file in the name's place at once: its data reach the disk first, so that
// even a machine that stops shows the old file or the new one, never a name over lost blocks.
// The file is synced while it has a name, before the output's name leads to it: btrfs leaves a
// file with no name out of what its sync makes durable, and a sync after the rename would leave
// the name over lost blocks until it ends.
bool name_new_file(Destination::Replace& way) {
    if (way.old.get() >= 0 &&
        (errno = give_identity(way.old.get(), way.old_info, way.made.get())) != 0) {
        return false;
    }
    const int folder = way.end.folder.get();
    const std::string proc = proc_path(way.made.get());
    const auto link = [&](const char* name) {
        return ::linkat(AT_FDCWD, proc.c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0;
    };
    const auto sync = [&] { return restarted_on_eintr([&] { return ::fsync(way.made.get()); }); };
    // A free name, where the sync of a file with no name holds: linked straight to it, no hidden
    // name at all. Should another run have made the file meanwhile, it is replaced as an old one
    // would be: the last whole picture stays.
    if (way.hidden.empty() && way.old.get() < 0 &&
        file_system_type(way.made.get()) != BTRFS_SUPER_MAGIC) {
        if (sync() != 0) {
            return false;
        }
        const EndingSignalsHeld held;
        if (link(way.end.base.c_str())) {
            return way.made.close();
        }
    }
    if (way.hidden.empty()) {
        const EndingSignalsHeld held;
        if ((way.hidden = take_hidden_name(folder, way.end.base, link)).empty()) {
            return false;
        }
    }
    if (sync() != 0) {
        return false;
    }
    const EndingSignalsHeld held;
    if (!way.made.close() ||
        ::renameat(folder, way.hidden.c_str(), folder, way.end.base.c_str()) != 0) {
        return false;
    }
    forget_hidden();
    way.hidden.clear();
    return true;
}

bool write_all(void* context, const char* data, std::size_t size) {
    const int fd = *static_cast<const int*>(context);
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        add_progress(static_cast<std::uint64_t>(written));
    }
    return true;
}

// The FIFO or device checked at the name, opened for writing now that the text is ready (a
// FIFO waits there for its reader).
bool open_stream(Destination::Stream& way) {
    if (way.out.get() >= 0) {
        return true;
    }
    // Followed, for the kernel's own link to a pipe; what it opened is checked below.
    way.out = Descriptor(
        ::openat(way.end.folder.get(), way.end.base.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    struct stat checked {};
    struct stat opened {};
    if (way.out.get() < 0 || ::fstat(way.node.get(), &checked) != 0 ||
        ::fstat(way.out.get(), &opened) != 0) {
        return false;
    }
    if (!same_file(checked, opened)) {
        errno = ESTALE;  // something else took the name since it was checked
        return false;
    }
    return true;
}

}  // namespace

namespace {

enum class Decision { settled, again, refused };

// What one look at the name found, for the decision.
struct Found {
    PathEnd end;
    Descriptor node;  // O_PATH, -1 when the name is free
    struct stat info {};
    struct stat folder_info {};
};

// A replacement at `end`, its folder opened to be made durable where the run may read it.
Destination::Replace replacement_at(PathEnd end) {
    Destination::Replace replace;
    replace.end = std::move(end);
    replace.folder_to_sync =
        Descriptor(::openat(replace.end.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return replace;
}

// The new file for a free name, made where the name would be. Any failure is a refusal.
Decision make_for_free_name(Found& found, Destination::Way& way) {
    Destination::Replace replace = replacement_at(std::move(found.end));
    if (!make_file(replace, 0666, !names_fixed(replace.end.folder.get()))) {
        return Decision::refused;
    }
    way = std::move(replace);
    return Decision::settled;
}

// The one decision, as the table at the top of the header says.
class Decider {
  public:
    Decider(const std::string& name, bool own_output, Destination::Way& way)
        : name_(name), own_output_(own_output), way_(way) {}

    Decision decide() {
        auto end = follow_path(name_);
        if (!end) {
            return Decision::refused;
        }
        found_.end = std::move(*end);
        const int folder = found_.end.folder.get();
        found_.node =
            Descriptor(::openat(folder, found_.end.base.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (found_.node.get() < 0) {
            return errno == ENOENT ? make_for_free_name(found_, way_) : Decision::refused;
        }
        if (::fstat(found_.node.get(), &found_.info) != 0 ||
            ::fstat(folder, &found_.folder_info) != 0) {
            return Decision::refused;
        }
        if (S_ISLNK(found_.info.st_mode) && !leads_to_no_path(found_.end.folder, found_.end.base)) {
            // A link put at the name since the path was followed: followed again, under the
            // same guard as any other link.
            return Decision::again;
        }
        if (!look_through_kernel_link()) {
            return Decision::refused;
        }
        if (is_standard_output()) {
            if (!own_output_) {
                errno = EBADF;  // the closed standard output's stand-in, named as /dev/stdout
                return Decision::refused;
            }
            // The run's own standard output, under whatever name: written through the
            // descriptor the shell opened, so that ">>" appends and nothing is cut.
            Destination::Stream stream;
            stream.out = Descriptor(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
            const bool opened = stream.out.get() >= 0;
            way_ = std::move(stream);
            return opened ? Decision::settled : Decision::refused;
        }
        return decide_for_node();
    }

  private:
    bool is_standard_output() const {
        struct stat out {};
        return ::fstat(STDOUT_FILENO, &out) == 0 && same_file(out, found_.info);
    }

    // The kernel's own link to a pipe or socket (/proc/self/fd/N): what it leads to instead.
    bool look_through_kernel_link() {
        if (!S_ISLNK(found_.info.st_mode)) {
            return true;
        }
        found_.node = Descriptor(
            ::openat(found_.end.folder.get(), found_.end.base.c_str(), O_PATH | O_CLOEXEC));
        through_kernel_link_ = true;
        return found_.node.get() >= 0 && ::fstat(found_.node.get(), &found_.info) == 0;
    }

    Decision decide_for_node() {
        const mode_t type = found_.info.st_mode & S_IFMT;
        // A file or FIFO that another user planted in a shared sticky folder, to be read or to
        // hold the run, as the kernel guards an open that may create it.
        if ((type == S_IFREG || type == S_IFIFO) &&
            planted_in_sticky_folder(found_.folder_info, found_.info.st_uid)) {
            errno = EACCES;
            return Decision::refused;
        }
        if (type == S_IFIFO || type == S_IFCHR || type == S_IFBLK) {
            // Opened only once the text is ready; whether it may be is known now. A kernel too
            // old to tell of a node by its descriptor leaves it to that open.
            if (::faccessat(found_.node.get(), "", W_OK, AT_EMPTY_PATH | AT_EACCESS) != 0 &&
                errno != EINVAL && errno != ENOSYS) {
                return Decision::refused;
            }
            Destination::Stream stream;
            stream.node = std::move(found_.node);
            stream.end = std::move(found_.end);
            way_ = std::move(stream);
            return Decision::settled;
        }
        if (type != S_IFREG) {
            errno = type == S_IFDIR ? EISDIR : ENXIO;
            return Decision::refused;
        }
        return decide_for_file();
    }

    // The old file, opened without waiting on what may have taken its place meanwhile (a FIFO),
    // locked, and still at the name once locked.
    Decision decide_for_file() {
        const int folder = found_.end.folder.get();
        const char* const base = found_.end.base.c_str();
        // Only the kernel's own link is followed: any other was refused or walked before.
        const int no_follow = through_kernel_link_ ? 0 : O_NOFOLLOW;
        Descriptor file(
            ::openat(folder, base, O_WRONLY | no_follow | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        struct stat opened {};
        if (file.get() < 0 || ::fcntl(file.get(), F_SETFL, 0) != 0 ||
            ::fstat(file.get(), &opened) != 0) {
            return Decision::refused;
        }
        if (!same_file(opened, found_.info)) {
            return Decision::again;
        }
        lock(file.get());
        // The run that held the lock may have replaced or removed the file meanwhile.
        struct stat now {};
        if (::fstatat(folder, base, &now, through_kernel_link_ ? 0 : AT_SYMLINK_NOFOLLOW) != 0 ||
            !same_file(now, opened)) {
            return Decision::again;
        }
        if (::fstat(file.get(), &found_.info) != 0) {
            return Decision::refused;
        }
        return replace_or_in_place(std::move(file));
    }

    Decision replace_or_in_place(Descriptor file) {
        // A file with no name (reached through the kernel's link) has no name to replace.
        if (found_.info.st_nlink != 1 || mounted_on(file.get()) ||
            names_fixed(found_.end.folder.get()) || sticky_keeps(found_.folder_info, found_.info)) {
            return in_place(std::move(file));
        }
        Destination::Replace replace = replacement_at(std::move(found_.end));
        replace.old = std::move(file);
        replace.old_info = found_.info;
        if (!make_file(replace, 0600, true)) {
            return may_not_add(errno) ? in_place(std::move(replace.old)) : Decision::refused;
        }
        if (const int error =
                give_identity(replace.old.get(), replace.old_info, replace.made.get());
            error != 0) {
            drop_new_file(replace);
            errno = error;
            return may_not_give(error) ? in_place(std::move(replace.old)) : Decision::refused;
        }
        way_ = std::move(replace);
        return Decision::settled;
    }

    Decision in_place(Descriptor file) {
        auto capability = capability_of(file.get());
        Destination::InPlace rewrite;
        rewrite.file = std::move(file);
        rewrite.info = found_.info;
        rewrite.capability = std::move(capability);
        way_ = std::move(rewrite);
        return Decision::settled;
    }

    const std::string& name_;
    bool own_output_;
    Destination::Way& way_;
    Found found_;
    bool through_kernel_link_ = false;
};

}  // namespace

bool Destination::prepare(std::uint64_t length, bool own_output) {
    length_ = length;
    Decision decision = Decision::again;
    // Each new look follows another run's finished replacement of the file: no cap on them.
    while (decision == Decision::again) {
        discard();
        decision = Decider(name_, own_output, way_).decide();
    }
    if (decision == Decision::refused) {
        const int error = errno;
        way_ = std::monostate();
        report(open_failure_line() + cause(error));
        return false;
    }
    return reserve();
}

namespace {

// The largest file that `fd` may grow to: the file-size limit, and FAT's 4 GiB - 1; other file
// systems say so when asked to reserve.
std::uint64_t size_limit(int fd) {
    std::uint64_t limit = UINT64_MAX;
    if (rlimit fsize{}; ::getrlimit(RLIMIT_FSIZE, &fsize) == 0 && fsize.rlim_cur != RLIM_INFINITY) {
        limit = fsize.rlim_cur;
    }
    if (file_system_type(fd) == MSDOS_SUPER_MAGIC) {
        limit = std::min(limit, std::uint64_t{UINT32_MAX});
    }
    return limit;
}

}  // namespace

// Refuses, in one line that says why, a text that cannot fit: past the file-size limit or the
// largest file the file system holds, or beyond its free space. The space is reserved where the
// file system can, so that another writer cannot take it before the text does.
bool Destination::reserve() {
    const Replace* const replace = std::get_if<Replace>(&way_);
    const InPlace* const rewrite = std::get_if<InPlace>(&way_);
    if (replace == nullptr && rewrite == nullptr) {
        return true;
    }
    const int fd = replace != nullptr ? replace->made.get() : rewrite->file.get();
    if (const std::uint64_t limit = size_limit(fd); length_ > limit) {
        report(too_long() + figures(length_, limit, "permis"));
        return false;
    }
    struct statvfs space {};
    if (::fstatvfs(fd, &space) != 0 || space.f_blocks == 0 || space.f_frsize == 0) {
        return true;  // a file system that tells nothing of its space
    }
    // The text takes whole blocks. A new file stands beside the old one until it replaces it;
    // a rewrite in place reuses the old blocks where the file system writes over them.
    const std::uint64_t needed = (length_ + space.f_frsize - 1) / space.f_frsize * space.f_frsize;
    std::uint64_t available = std::uint64_t{space.f_bavail} * space.f_frsize;
    if (rewrite != nullptr && rewrites_in_place(file_system_type(fd))) {
        available += static_cast<std::uint64_t>(rewrite->info.st_blocks) * 512;
    }
    if (needed > available) {
        report(no_space() + figures(needed, available, "disponibles"));
        return false;
    }
    return allocate(fd, replace == nullptr, needed);
}

// Takes the text's space in the file: for a new file, given back by its removal should the run
// fail; for an old one (`keep_size`), its size unchanged, the blocks past its end given back by
// discard(). A refusal here knows better than the free space: a quota, say. Where the file system
// cannot reserve (EOPNOTSUPP), the check of the free space is all.
bool Destination::allocate(int fd, bool keep_size, std::uint64_t needed) {
    const int mode = keep_size ? FALLOC_FL_KEEP_SIZE : 0;
    if (restarted_on_eintr([&] { return ::fallocate(fd, mode, 0, static_cast<off_t>(length_)); }) ==
            0 ||
        errno == EOPNOTSUPP || errno == ENOSYS) {
        return true;
    }
    const int error = errno;
    if (error == EFBIG) {
        report(too_long() + required(length_) + cause(error));
    } else if (error == ENOSPC || error == EDQUOT) {
        report(no_space() + required(needed) + cause(error));
    } else {
        report(open_failure_line() + cause(error));
    }
    return false;
}

bool Destination::write(const CBitmap& bitmap, std::span<char> buffer) {
    int fd = -1;
    if (auto* stream = std::get_if<Stream>(&way_)) {
        if (!open_stream(*stream)) {
            report(open_failure_line() + cause(errno));
            return false;
        }
        fd = stream->out.get();
    } else if (auto* replace = std::get_if<Replace>(&way_)) {
        fd = replace->made.get();
    } else if (auto* rewrite = std::get_if<InPlace>(&way_)) {
        fd = rewrite->file.get();
    }
    if (fd >= 0 && ::isatty(fd) == 1) {
        stop_progress();  // the text itself goes to the terminal: the line would tear it
    }
    if (fd >= 0 && write_xbm(bitmap, buffer, write_all, &fd)) {
        return true;
    }
    report(write_failure_line() + cause(errno));
    return false;
}

bool Destination::commit() {
    bool done = false;
    if (auto* stream = std::get_if<Stream>(&way_)) {
        done = stream->out.close();
    } else if (auto* replace = std::get_if<Replace>(&way_)) {
        if (!name_new_file(*replace)) {
            const int error = errno;
            discard();
            report(write_failure_line() + cause(error));
            return false;
        }
        // The new name itself reaches the disk, so that a machine that stops now keeps the
        // picture. A folder the run may not read cannot be made durable; the picture is whole.
        const bool durable =
            replace->folder_to_sync.get() < 0 ||
            restarted_on_eintr([&] { return ::fsync(replace->folder_to_sync.get()); }) == 0;
        const int error = errno;
        way_ = std::monostate();
        if (!durable) {
            report("ERREUR: Impossible de mettre sur le disque le dossier du fichier \"" + name_ +
                   "\" (l'image est en place)" + cause(error));
        }
        return durable;
    } else if (auto* rewrite = std::get_if<InPlace>(&way_)) {
        const int fd = rewrite->file.get();
        // A shorter text leaves the old one's tail behind it, cut only once the text is on the
        // disk: a cut that reached it first would leave the old text cut short.
        // The write took the set-ID bits and the capability off; given back where the run may.
        done = (rewrite->info.st_size <= static_cast<off_t>(length_) ||
                restarted_on_eintr([fd] { return ::fdatasync(fd); }) == 0) &&
               ::ftruncate(fd, static_cast<off_t>(length_)) == 0;
        if (done) {
            give_back_after_write(fd, rewrite->info.st_mode, rewrite->capability);
        }
        done =
            done && restarted_on_eintr([fd] { return ::fsync(fd); }) == 0 && rewrite->file.close();
    }
    const int error = errno;
    if (!done) {
        discard();
        report(write_failure_line() + cause(error));
        return false;
    }
    way_ = std::monostate();
    return true;
}

void Destination::discard() {
    if (auto* replace = std::get_if<Replace>(&way_)) {
        drop_new_file(*replace);
    } else if (auto* rewrite = std::get_if<InPlace>(&way_)) {
        // The space reserved past what got into the file goes back to the file system: cutting
        // a file to its own length frees what lies beyond its end.
        struct stat now {};
        if (rewrite->file.get() >= 0 && ::fstat(rewrite->file.get(), &now) == 0) {
            [[maybe_unused]] const int freed = ::ftruncate(rewrite->file.get(), now.st_size);
        }
    }
    // The old file's lock goes with it: a waiting run takes it, the file gone or replaced.
    way_ = std::monostate();
}

// "ERREUR: Impossible d'ouvrir le fichier ...", the start of the line of a refused destination.
std::string Destination::open_failure_line() const {
    return "ERREUR: Impossible d'ouvrir le fichier \"" + name_ + "\"";
}

// "ERREUR: Impossible d'ecrire le fichier ...", the start of the line of a failed write.
std::string Destination::write_failure_line() const {
    return "ERREUR: Impossible d'ecrire le fichier \"" + name_ + "\"";
}

std::string Destination::too_long() const {
    return "ERREUR: Limite de taille de fichier depassee pour le fichier \"" + name_ + "\"";
}

std::string Destination::no_space() const {
    return "ERREUR: Espace insuffisant pour le fichier \"" + name_ + "\"";
}
