#include "output_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "ending_signals.hpp"
#include "progress.hpp"
#include "report.hpp"

namespace {

// The file this run created and has not completed yet, for the signal handler to remove.
std::atomic<const char*> g_unfinished{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

void remove_unfinished() {
    if (const char* const path = g_unfinished.load()) {
        ::unlink(path);
    }
}

// Removes the file this run created unless the run completes it: on a failure, on a refusal, and
// on a signal that ends the run.
class UnfinishedFile {
  public:
    // An empty path: the file existed before, and keeps whatever got into it.
    explicit UnfinishedFile(std::string path) : path_(std::move(path)) {
        if (!path_.empty()) {
            g_unfinished = path_.c_str();
            clean_up_on_ending_signals(remove_unfinished);
        }
    }
    UnfinishedFile(const UnfinishedFile&) = delete;
    UnfinishedFile& operator=(const UnfinishedFile&) = delete;
    ~UnfinishedFile() { remove(); }

    // The file is whole: it stays.
    void completed() {
        g_unfinished = nullptr;
        path_.clear();
    }

    // The file goes, unless it was completed; a signal meanwhile waits, so that it cannot
    // remove a file of that name made after this one.
    void remove() {
        if (!path_.empty()) {
            const EndingSignalsHeld held;
            ::unlink(path_.c_str());
            completed();
        }
    }

  private:
    std::string path_;
};

// An open file, closed when it goes.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept {
        reset();
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }
    ~Descriptor() { reset(); }
    int get() const { return fd_; }
    // Closes the file; false when the close reports an error (a delayed write failing).
    bool reset() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

struct Target {
    Descriptor file;
    struct stat info {};
    // The path of the file when this run created it, else empty.
    std::string created;
};

// Opens the file for writing without cutting it, creating it when it does not exist, and tells
// whether this run created it. Every open that may create asks for O_CREAT, so that the kernel
// applies its guards of shared sticky folders such as /tmp (protected_symlinks, protected_regular,
// protected_fifos) against a link, file or FIFO that another user planted there.
bool open_target(const std::string& name, Target& target) {
    const auto opened = [&target](int fd, std::string created) {
        target.file = Descriptor(fd);
        target.created = fd >= 0 ? std::move(created) : std::string();
        return fd >= 0 && ::fstat(fd, &target.info) == 0;
    };
    if (const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        fd >= 0 || errno != EEXIST) {
        return opened(fd, name);
    }
    struct stat there {};
    const bool leads_nowhere = ::stat(name.c_str(), &there) != 0 && errno == ENOENT;
    if (!opened(::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666), {})) {
        return false;
    }
    // A symbolic link to nowhere a moment ago: the file now at its end is this run's.
    if (leads_nowhere) {
        std::string path = where_file_lives(name);
        struct stat made {};
        if (::stat(path.c_str(), &made) == 0 && same_file(made, target.info)) {
            target.created = std::move(path);
        }
    }
    return true;
}

// Waits until no other run writes the file, then makes sure that the name still leads to the
// file locked: the run before may have removed or replaced it. False: open it again.
bool lock_target(const std::string& name, Target& target) {
    while (::flock(target.file.get(), LOCK_EX) != 0) {
        if (errno != EINTR) {
            return true;  // no locks on this file system: one writer is all one can hope for
        }
    }
    struct stat named {};
    if (::stat(name.c_str(), &named) != 0 || !same_file(named, target.info)) {
        return false;
    }
    ::fstat(target.file.get(), &target.info);
    if (target.info.st_size > 0) {
        target.created.clear();  // another run wrote it while this one waited: it is theirs
    }
    return true;
}

// Whether `length` bytes can replace the regular file's content without a failure that can be
// foreseen; if not, says why in one line. Space is reserved where the file system can do it
// without changing the content, so that another writer cannot take it before the text does.
bool fits(const std::string& name, const Target& target, std::uint64_t length) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        length > limit.rlim_cur) {
        report("ERREUR: Limite de taille de fichier depassee pour le fichier \"" + name + "\"" +
               figures(length, limit.rlim_cur, "permis"));
        return false;
    }
    struct statvfs room {};
    if (::fstatvfs(target.file.get(), &room) != 0 || room.f_blocks == 0 || room.f_frsize == 0) {
        return true;  // a file system that tells nothing of its room
    }
    // The text takes whole blocks; the old content's blocks are written over, so they count.
    const std::uint64_t needed = (length + room.f_frsize - 1) / room.f_frsize * room.f_frsize;
    const std::uint64_t available = std::uint64_t{room.f_bavail} * room.f_frsize +
                                    static_cast<std::uint64_t>(target.info.st_blocks) * 512;
    bool enough = needed <= available;
    if (enough) {
        int reserved;
        while ((reserved = ::fallocate(target.file.get(), FALLOC_FL_KEEP_SIZE, 0,
                                       static_cast<off_t>(length))) != 0 &&
               errno == EINTR) {
        }
        // Where the file system cannot reserve (EOPNOTSUPP), the check above is all there is.
        enough = reserved == 0 || (errno != ENOSPC && errno != EDQUOT);
    }
    if (!enough) {
        report("ERREUR: Espace insuffisant pour le fichier \"" + name + "\"" +
               figures(needed, available, "disponibles"));
    }
    return enough;
}

bool write_all(void* context, const char* data, std::size_t size) {
    const int fd = *static_cast<const int*>(context);
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
        add_progress(static_cast<std::uint64_t>(written));
    }
    return true;
}

}  // namespace

std::string where_file_lives(const std::string& file_name) {
    std::string path = file_name;
    const auto target = std::make_unique_for_overwrite<char[]>(PATH_MAX);
    // As many links as the kernel follows before it gives up (ELOOP).
    for (int hop = 0; hop < 40; ++hop) {
        const ssize_t size = ::readlink(path.c_str(), target.get(), PATH_MAX);
        if (size < 0 || size == PATH_MAX) {
            break;
        }
        const std::string_view link(target.get(), static_cast<std::size_t>(size));
        const std::size_t slash = path.find_last_of('/');
        path = link.starts_with('/') || slash == std::string::npos
                   ? std::string(link)
                   : path.substr(0, slash + 1) + std::string(link);
    }
    return path;
}

bool save_xbm(const CBitmap& bitmap, const std::string& file_name, std::span<char> block) {
    const std::uint64_t length = xbm_text_length(bitmap.width, bitmap.height);
    // The line, if shown, tells of the writing now, waits for a reader or a lock included.
    start_phase(Phase::writing, length);
    Target target;
    bool ready = false;
    for (int attempt = 0; attempt < 16 && !ready; ++attempt) {
        if (!open_target(file_name, target)) {
            UnfinishedFile unwanted(target.created);
            break;
        }
        // Pipes, terminals and devices are written as they come: they have no old content to
        // keep, and no room to check.
        ready = !S_ISREG(target.info.st_mode) || lock_target(file_name, target);
    }
    if (!ready) {
        report("ERREUR: Impossible d'ouvrir le fichier \"" + file_name + "\"");
        return false;
    }
    UnfinishedFile unfinished(target.created);
    const bool regular = S_ISREG(target.info.st_mode);
    if (regular && !fits(file_name, target, length)) {
        return false;
    }
    int fd = target.file.get();
    if (::isatty(fd) == 1) {
        stop_progress();  // the text itself goes to the terminal: the line would tear it
    }
    start_phase(Phase::writing, length);  // the estimate counts from the first write, past waits
    bool written = write_xbm(bitmap, block, write_all, &fd);
    // A shorter text leaves the old one's tail behind it, cut only now that the text is in.
    written = written && (!regular || ::ftruncate(fd, static_cast<off_t>(length)) == 0);
    if (!written && regular) {
        // The room reserved past what got into the file goes back to the file system: cutting
        // a file to its own length frees what lies beyond its end.
        struct stat now {};
        if (::fstat(fd, &now) == 0) {
            [[maybe_unused]] const int freed = ::ftruncate(fd, now.st_size);
        }
    }
    {
        // Closing lets a waiting run take the file: from then on, no signal may remove it
        // before this run has settled whether it keeps it.
        const EndingSignalsHeld held;
        if (target.file.reset() && written) {
            unfinished.completed();
            return true;
        }
        unfinished.remove();
    }
    report("ERREUR: Impossible d'ecrire le fichier \"" + file_name + "\"");
    return false;
}
