#include "file_path.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <deque>
#include <memory>
#include <utility>

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

std::deque<std::string> split(const std::string& path) {
    std::deque<std::string> names;
    for (std::size_t at = 0; at <= path.size();) {
        const std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at) {
            names.push_back(path.substr(at, slash - at));
        }
        at = slash + 1;
    }
    if (path.ends_with('/') && !names.empty()) {
        names.emplace_back(".");  // a path that ends in a slash names a folder, never a file
    }
    return names;
}

Descriptor open_start(const std::string& path) {
    return Descriptor(::open(path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Puts the target of the link `link` (in `folder`) in front of the names still to follow;
// an absolute target starts again from the root.
bool follow_link(Descriptor& folder, const Descriptor& link, std::deque<std::string>& names) {
    struct stat folder_info {};
    struct stat link_info {};
    if (::fstat(folder.get(), &folder_info) != 0 || ::fstat(link.get(), &link_info) != 0) {
        return false;
    }
    if (planted_in_sticky_folder(folder_info, link_info.st_uid)) {
        set_refused_as_planted(true);
        errno = EACCES;
        return false;
    }
    const auto target = std::make_unique_for_overwrite<char[]>(PATH_MAX);
    const ssize_t size = ::readlinkat(link.get(), "", target.get(), PATH_MAX);
    if (size <= 0 || size == PATH_MAX) {
        errno = size < 0 ? errno : ENAMETOOLONG;
        return false;
    }
    const std::string to(target.get(), static_cast<std::size_t>(size));
    std::deque<std::string> more = split(to);
    names.insert(names.begin(), more.begin(), more.end());
    if (to.starts_with('/')) {
        folder = open_start(to);
    }
    return folder.get() >= 0;
}

enum class Step { folder, link, end, failed };

// Takes the next name off `names`, in `folder`: into a folder, through a link, or at the end,
// where `end` is set (the file there, or a free name in a folder that exists).
Step step(Descriptor& folder, std::deque<std::string>& names, std::optional<PathEnd>& end) {
    std::string next = std::move(names.front());
    names.pop_front();
    Descriptor at(::openat(folder.get(), next.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (at.get() < 0 || ::fstat(at.get(), &info) != 0) {
        if (errno != ENOENT || !names.empty()) {
            return Step::failed;
        }
        end = PathEnd{std::move(folder), std::move(next)};
        return Step::end;
    }
    if (S_ISLNK(info.st_mode) && names.empty() && leads_to_no_path(folder, next)) {
        end = PathEnd{std::move(folder), std::move(next)};
        return Step::end;
    }
    if (S_ISLNK(info.st_mode)) {
        return follow_link(folder, at, names) ? Step::link : Step::failed;
    }
    if (names.empty()) {
        end = PathEnd{std::move(folder), std::move(next)};
        return Step::end;
    }
    folder = std::move(at);
    return Step::folder;
}

}  // namespace

Descriptor::Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Descriptor& Descriptor::operator=(Descriptor&& other) noexcept {
    close();
    fd_ = std::exchange(other.fd_, -1);
    return *this;
}

bool Descriptor::close() {
    const int fd = std::exchange(fd_, -1);
    // Linux closes the descriptor even when a signal cuts the call short.
    return fd < 0 || ::close(fd) == 0 || errno == EINTR;
}

namespace {
bool g_refused_as_planted = false;
}

bool refused_as_planted() {
    return g_refused_as_planted;
}

void set_refused_as_planted(bool planted) {
    g_refused_as_planted = planted;
}

bool planted_in_sticky_folder(const struct stat& folder, uid_t owner) {
    return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0 &&
           owner != ::geteuid() && owner != folder.st_uid;
}

bool leads_to_no_path(const Descriptor& folder, const std::string& name) {
    struct statfs info {};
    char first = 0;
    struct stat target {};
    return ::fstatfs(folder.get(), &info) == 0 &&
           static_cast<std::uint32_t>(info.f_type) == PROC_SUPER_MAGIC &&
           ::readlinkat(folder.get(), name.c_str(), &first, 1) == 1 &&
           (first != '/' ||
            (::fstatat(folder.get(), name.c_str(), &target, 0) == 0 && target.st_nlink == 0));
}

std::optional<PathEnd> follow_path(const std::string& name) {
    std::deque<std::string> names = split(name);
    Descriptor folder = open_start(name);
    if (names.empty() || folder.get() < 0) {
        errno = names.empty() && folder.get() >= 0 ? (name.empty() ? ENOENT : EISDIR) : errno;
        return std::nullopt;
    }
    for (int links = 0; links <= kMaxLinks;) {
        std::optional<PathEnd> end;
        switch (step(folder, names, end)) {
            case Step::end:
                return end;
            case Step::failed:
                return std::nullopt;
            case Step::link:
                ++links;
                break;
            case Step::folder:
                break;
        }
        if (names.empty()) {
            // A link to "/" or a name such as "x/..": no file of its own in a folder.
            errno = EISDIR;
            return std::nullopt;
        }
    }
    errno = ELOOP;
    return std::nullopt;
}
