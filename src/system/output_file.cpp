#include "output_file.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "ending_signals.hpp"
#include "progress.hpp"
#include "report.hpp"

// A text passes 4 GiB: file sizes and offsets of 64 bits on every target, 32-bit ones included.
static_assert(sizeof(off_t) == 8);

namespace {

// The hidden name of a new file, in its folder, for the signal handler to remove. Set and
// cleared with the ending signals held, so that the handler never removes a name that is no
// longer this run's.
std::atomic<int> g_hidden_folder{-1};
std::atomic<const char*> g_hidden_name{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

void remove_hidden() {
    if (const char* const name = g_hidden_name.load()) {
        ::unlinkat(g_hidden_folder.load(), name, 0);
    }
}
SignalCleanup g_remove_hidden{remove_hidden};

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The kernel's guard of shared sticky folders (protected_symlinks): a link in a sticky folder
// that anyone may write in is followed only by its owner, or when the folder's owner made it.
bool may_follow(const std::string& link, const struct stat& link_info) {
    struct stat folder {};
    return ::stat(folder_of(link).c_str(), &folder) != 0 || (folder.st_mode & S_ISVTX) == 0 ||
           (folder.st_mode & S_IWOTH) == 0 || link_info.st_uid == ::geteuid() ||
           link_info.st_uid == folder.st_uid;
}

// The kernel's guard of shared sticky folders for a file opened so as to be created if missing
// (protected_regular, protected_fifos), which an open that never creates does not get: a file
// or FIFO in a sticky folder that anyone may write in, owned neither by this process nor by the
// folder's owner, was planted there by another user, to be read or to hold the run.
bool planted(const std::string& real, const struct stat& file) {
    struct stat folder {};
    return (S_ISREG(file.st_mode) || S_ISFIFO(file.st_mode)) &&
           ::stat(folder_of(real).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) != 0 &&
           (folder.st_mode & S_IWOTH) != 0 && file.st_uid != ::geteuid() &&
           file.st_uid != folder.st_uid;
}

// The names of the extended attributes of `fd`, each ended by a NUL; empty where the file
// system has none. Nothing when they cannot be read.
std::optional<std::vector<char>> attribute_names(int fd) {
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size <= 0) {
            return size == 0 || errno == ENOTSUP ? std::optional(std::vector<char>())
                                                 : std::nullopt;
        }
        std::vector<char> names(static_cast<std::size_t>(size));
        const ssize_t got = ::flistxattr(fd, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            return names;
        }
        // ERANGE: one was added meanwhile, ask again.
        if (errno != ERANGE) {
            return std::nullopt;
        }
    }
}

bool has_name(const std::vector<char>& names, std::string_view name) {
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        if (name == names.data() + at) {
            return true;
        }
    }
    return false;
}

// Gives `to` exactly the extended attributes of `from`, access lists included.
bool copy_attributes(int from, int to) {
    const auto old_names = attribute_names(from);
    const auto new_names = attribute_names(to);
    if (!old_names || !new_names) {
        return false;
    }
    for (std::size_t at = 0; at < new_names->size();
         at += std::strlen(new_names->data() + at) + 1) {
        const char* const name = new_names->data() + at;
        if (!has_name(*old_names, name) && ::fremovexattr(to, name) != 0) {
            return false;
        }
    }
    std::vector<char> value;
    for (std::size_t at = 0; at < old_names->size();
         at += std::strlen(old_names->data() + at) + 1) {
        const char* const name = old_names->data() + at;
        const ssize_t size = ::fgetxattr(from, name, nullptr, 0);
        value.resize(static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
        if (size < 0 || ::fgetxattr(from, name, value.data(), value.size()) != size ||
            ::fsetxattr(to, name, value.data(), value.size(), 0) != 0) {
            return false;
        }
    }
    return true;
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

// The name by which the kernel lets a file with no name of its own be linked into a folder.
std::string proc_path(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Whether the file is mounted on its name (a bind mount of a single file, as containers use):
// its name then cannot be given to another file.
bool mounted_on(int fd) {
    struct statx info {};
    return ::statx(fd, "", AT_EMPTY_PATH, 0, &info) == 0 &&
           (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0 &&
           (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
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

template <typename Call>
int retried(Call call) {
    int result;
    while ((result = call()) != 0 && errno == EINTR) {
    }
    return result;
}

}  // namespace

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    close();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
}

bool Descriptor::close() {
    const int fd = std::exchange(fd_, -1);
    // Linux closes the file even when a signal cuts the call short.
    return fd < 0 || ::close(fd) == 0 || errno == EINTR;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::optional<std::string> where_file_lives(const std::string& file_name) {
    std::string path = file_name;
    const auto target = std::make_unique_for_overwrite<char[]>(PATH_MAX);
    // As many links as the kernel follows before it gives up (ELOOP).
    for (int hop = 0; hop < 40; ++hop) {
        struct stat link {};
        if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            break;
        }
        const ssize_t size = ::readlink(path.c_str(), target.get(), PATH_MAX);
        if (size < 0 || size == PATH_MAX) {
            break;
        }
        if (!may_follow(path, link)) {
            return std::nullopt;
        }
        // A relative target is read from the link's own folder.
        const std::string_view to(target.get(), static_cast<std::size_t>(size));
        const std::size_t slash = path.find_last_of('/');
        path = to.starts_with('/') || slash == std::string::npos
                   ? std::string(to)
                   : path.substr(0, slash + 1) + std::string(to);
    }
    return path;
}

bool OutputFile::open() {
    open_ = true;
    // Another run may replace or remove the file while this one waits for it: then again.
    Opened opened = Opened::again;
    for (int attempt = 0; attempt < 16 && opened == Opened::again; ++attempt) {
        opened = open_named();
    }
    if (opened == Opened::yes) {
        return true;
    }
    report("ERREUR: Impossible d'ouvrir le fichier \"" + name_ + "\"");
    return false;
}

OutputFile::Opened OutputFile::open_named() {
    target_.close();
    struct stat named {};
    struct stat out {};
    const bool exists = ::stat(name_.c_str(), &named) == 0;
    // The run's own standard output, under whatever name: written through the descriptor the
    // shell opened, so that ">>" appends and nothing is cut.
    if (exists && ::fstat(STDOUT_FILENO, &out) == 0 && same_file(named, out)) {
        target_ = Descriptor(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3));
        way_ = Way::stream;
        return target_.get() >= 0 ? Opened::yes : Opened::no;
    }
    // Never created here: a new file appears only once whole, under the name.
    target_ = Descriptor(::open(name_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
    if (target_.get() < 0) {
        const auto real = errno == ENOENT ? where_file_lives(name_) : std::nullopt;
        way_ = Way::replace;
        return real && open_folder(*real) && make_file(0666) ? Opened::yes : Opened::no;
    }
    const auto real = where_file_lives(name_);
    if (::fstat(target_.get(), &target_info_) != 0 || planted(real.value_or(name_), target_info_)) {
        return Opened::no;
    }
    if (!S_ISREG(target_info_.st_mode)) {
        way_ = Way::stream;  // pipes, terminals, devices: no old content to keep, no space
        return Opened::yes;
    }
    // One writer at a time; where the file system has no locks, one writer is all one can hope.
    if (retried([this] { return ::flock(target_.get(), LOCK_EX); }) == 0) {
        // The run before may have replaced or removed the file meanwhile.
        if (::stat(name_.c_str(), &named) != 0 || !same_file(named, target_info_)) {
            return Opened::again;
        }
        if (::fstat(target_.get(), &target_info_) != 0) {
            return Opened::no;
        }
    }
    way_ = replaceable(real) && make_file(0600) ? Way::replace : Way::in_place;
    if (way_ == Way::replace && !take_on_old_identity()) {
        drop_new_file();
        way_ = Way::in_place;
    }
    return Opened::yes;
}

// Whether a new file in the real file's folder can take its place and be what it was: not
// while another name leads to the old one, nor where the run may not replace it.
bool OutputFile::replaceable(const std::optional<std::string>& real) {
    struct stat there {};
    struct stat folder {};
    if (target_info_.st_nlink > 1 || mounted_on(target_.get()) || !real || !open_folder(*real) ||
        ::fstatat(folder_.get(), base_.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
        !same_file(there, target_info_) || ::fstat(folder_.get(), &folder) != 0) {
        return false;
    }
    // In a sticky folder, only the file's owner, the folder's or root may replace it.
    const uid_t self = ::geteuid();
    return (folder.st_mode & S_ISVTX) == 0 || self == 0 || target_info_.st_uid == self ||
           folder.st_uid == self;
}

// Opens the folder of the file at `real` and keeps its name there: every later step works from
// the folder itself, whatever happens meanwhile to the links on the way to it.
bool OutputFile::open_folder(const std::string& real) {
    const std::size_t slash = real.find_last_of('/');
    base_ = slash == std::string::npos ? real : real.substr(slash + 1);
    if (base_.empty() || base_ == "." || base_ == "..") {
        errno = EISDIR;
        return false;
    }
    const std::string folder = folder_of(real);
    folder_ = Descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder_.get() < 0 && errno == EACCES) {
        folder_ = Descriptor(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return folder_.get() >= 0;
}

// Makes the new file in the folder: with no name where the system allows (the kernel then
// drops it by itself, whatever ends the run), else under a hidden name of its own.
bool OutputFile::make_file(mode_t mode) {
    new_file_ = Descriptor(::openat(folder_.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
    if (new_file_.get() >= 0) {
        // Naming it later goes through /proc, which a container may lack.
        if (::access(proc_path(new_file_.get()).c_str(), F_OK) == 0) {
            return true;
        }
        new_file_.close();
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return false;  // the folder refuses: no access, read-only, full
    }
    const EndingSignalsHeld held;
    return take_hidden_name([this, mode](const char* hidden) {
        new_file_ = Descriptor(
            ::openat(folder_.get(), hidden, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        return new_file_.get() >= 0;
    });
}

// Gives the new file the first hidden name that `make` can make (false with EEXIST: taken),
// and lists it for the signal handler, to be removed should the run end before the rename. The
// ending signals are held meanwhile by the caller.
template <typename Make>
bool OutputFile::take_hidden_name(Make make) {
    clean_up_on_ending_signals(g_remove_hidden);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string hidden = hidden_name(attempt);
        if (make(hidden.c_str())) {
            hidden_name_ = std::move(hidden);
            g_hidden_folder = folder_.get();
            g_hidden_name = hidden_name_.c_str();
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return false;
}

// The new file gets the old one's owner, group, mode and extended attributes (access lists
// included), or nothing at all: false when any of them cannot be given.
bool OutputFile::take_on_old_identity() {
    const int fd = new_file_.get();
    const struct stat& old = target_info_;
    struct stat made {};
    if (::fstat(fd, &made) != 0 ||
        ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
         ::fchown(fd, old.st_uid, old.st_gid) != 0) ||
        ::fchmod(fd, old.st_mode & 07777) != 0 || !copy_attributes(target_.get(), fd) ||
        ::fstat(fd, &made) != 0) {
        return false;
    }
    // The kernel may drop a set-group-ID bit without a word.
    return made.st_uid == old.st_uid && made.st_gid == old.st_gid &&
           (made.st_mode & 07777) == (old.st_mode & 07777);
}

bool OutputFile::prepare(std::uint64_t length) {
    length_ = length;
    if (way_ == Way::stream) {
        return true;
    }
    const int fd = way_ == Way::replace ? new_file_.get() : target_.get();
    std::uint64_t limit = UINT64_MAX;
    if (rlimit fsize{}; ::getrlimit(RLIMIT_FSIZE, &fsize) == 0 && fsize.rlim_cur != RLIM_INFINITY) {
        limit = fsize.rlim_cur;
    }
    // FAT holds files of up to 4 GiB - 1; other file systems say so when asked to reserve.
    const std::uint32_t type = file_system_type(fd);
    if (type == MSDOS_SUPER_MAGIC) {
        limit = std::min(limit, std::uint64_t{UINT32_MAX});
    }
    const std::string too_long =
        "ERREUR: Limite de taille de fichier depassee pour le fichier \"" + name_ + "\"";
    if (length > limit) {
        report(too_long + figures(length, limit, "permis"));
        return false;
    }
    struct statvfs space {};
    if (::fstatvfs(fd, &space) != 0 || space.f_blocks == 0 || space.f_frsize == 0) {
        return true;  // a file system that tells nothing of its space
    }
    // The text takes whole blocks. A new file stands beside the old one until it replaces it;
    // a rewrite in place reuses the old blocks where the file system writes over them.
    const std::uint64_t needed = (length + space.f_frsize - 1) / space.f_frsize * space.f_frsize;
    std::uint64_t available = std::uint64_t{space.f_bavail} * space.f_frsize;
    if (way_ == Way::in_place && rewrites_in_place(type)) {
        available += static_cast<std::uint64_t>(target_info_.st_blocks) * 512;
    }
    const std::string no_space = "ERREUR: Espace insuffisant pour le fichier \"" + name_ + "\"";
    if (needed > available) {
        report(no_space + figures(needed, available, "disponibles"));
        return false;
    }
    // Reserved, so that another writer cannot take the space before the text does. A new file
    // takes it whole, given back by its removal should the run fail; an old one is not grown
    // past its content. A refusal here knows better than the free space: a quota, say.
    const int mode = way_ == Way::replace ? 0 : FALLOC_FL_KEEP_SIZE;
    if (retried([&] { return ::fallocate(fd, mode, 0, static_cast<off_t>(length)); }) != 0) {
        const int error = errno;
        if (error == EFBIG || error == ENOSPC || error == EDQUOT) {
            report((error == EFBIG ? too_long + required(length) : no_space + required(needed)) +
                   cause(error));
            return false;
        }
        // Where the file system cannot reserve (EOPNOTSUPP), the check above is all there is.
    }
    return true;
}

bool OutputFile::write(const CBitmap& bitmap, std::span<char> block) {
    int fd = way_ == Way::replace ? new_file_.get() : target_.get();
    if (::isatty(fd) == 1) {
        stop_progress();  // the text itself goes to the terminal: the line would tear it
    }
    start_phase(Phase::writing, length_);  // the estimate counts from the first write
    if (write_xbm(bitmap, block, write_all, &fd)) {
        return true;
    }
    report(cannot_write() + cause(errno));
    return false;
}

bool OutputFile::finish(bool keep) {
    if (!open_) {
        return false;
    }
    open_ = false;
    bool kept = keep;
    int error = 0;
    if (way_ == Way::replace) {
        kept = kept && settle();
        error = errno;
        if (!kept) {
            drop_new_file();
        }
        target_.close();  // lets a waiting run take the old file, gone or replaced by now
    } else {
        // A shorter text leaves the old one's tail behind it, cut only now that the text is in.
        kept = kept && (way_ == Way::stream ||
                        ::ftruncate(target_.get(), static_cast<off_t>(length_)) == 0);
        error = errno;
        if (way_ == Way::in_place && kept) {
            // Writing took a set-user-ID or set-group-ID bit off; its owner may put it back.
            [[maybe_unused]] const int restored =
                ::fchmod(target_.get(), target_info_.st_mode & 07777);
        } else if (way_ == Way::in_place) {
            // The space reserved past what got into the file goes back to the file system:
            // cutting a file to its own length frees what lies beyond its end.
            struct stat now {};
            if (::fstat(target_.get(), &now) == 0) {
                [[maybe_unused]] const int freed = ::ftruncate(target_.get(), now.st_size);
            }
        }
        if (!target_.close() && kept) {
            kept = false;
            error = errno;
        }
    }
    folder_.close();
    if (keep && !kept) {
        report(cannot_write() + cause(error));
    }
    return kept;
}

// Puts the whole new file in the name's place at once. Its data reach the disk first, so that
// even a machine that stops shows the old file or the new one, never a name over lost blocks.
bool OutputFile::settle() {
    // Writing takes a set-user-ID bit or a file capability off a file: given back only now.
    const bool replaces_old = target_.get() >= 0;
    if ((replaces_old && !take_on_old_identity()) ||
        retried([this] { return ::fsync(new_file_.get()); }) != 0) {
        return false;
    }
    const EndingSignalsHeld held;
    // A file with no name yet gets its hidden one now, to be renamed at once.
    const auto link = [this](const char* hidden) {
        return ::linkat(AT_FDCWD, proc_path(new_file_.get()).c_str(), folder_.get(), hidden,
                        AT_SYMLINK_FOLLOW) == 0;
    };
    if ((hidden_name_.empty() && !take_hidden_name(link)) || !new_file_.close() ||
        ::renameat(folder_.get(), hidden_name_.c_str(), folder_.get(), base_.c_str()) != 0) {
        return false;
    }
    forget_hidden_name();
    // The new name itself reaches the disk, so that a machine that stops now keeps the picture.
    // A folder the run may not read cannot be made durable; the picture is whole either way.
    ::fsync(folder_.get());
    return true;
}

// ".NAME.PID.N": hidden, beside the file it is to replace, and this run's alone.
std::string OutputFile::hidden_name(int attempt) const {
    return "." + base_.substr(0, NAME_MAX - 32) + "." + std::to_string(::getpid()) + "." +
           std::to_string(attempt);
}

void OutputFile::drop_new_file() {
    const EndingSignalsHeld held;
    new_file_.close();
    if (!hidden_name_.empty()) {
        ::unlinkat(folder_.get(), hidden_name_.c_str(), 0);
        forget_hidden_name();
    }
}

std::string OutputFile::cannot_write() const {
    return "ERREUR: Impossible d'ecrire le fichier \"" + name_ + "\"";
}

void OutputFile::forget_hidden_name() {
    g_hidden_name = nullptr;
    hidden_name_.clear();
}

bool save_xbm(const CBitmap& bitmap, const std::string& file_name, std::span<char> block) {
    const std::uint64_t length = xbm_text_length(bitmap.width, bitmap.height);
    // The line, if shown, tells of the writing now, a wait for a reader or a lock included.
    start_phase(Phase::writing, length);
    OutputFile file(file_name);
    return file.open() && file.prepare(length) && file.write(bitmap, block) && file.finish(true);
}
