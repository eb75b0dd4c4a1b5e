#include "path_walk.hpp"

#include <fcntl.h>
#include <linux/capability.h>
#include <linux/magic.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

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

bool may_override_permissions() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    return ::syscall(SYS_capget, &header, data) == 0 &&
           (data[0].effective & (1U << CAP_DAC_OVERRIDE)) != 0;
}

// A link owned by another user, followed by a walker that may override permissions: what the
// link names must be that user's, checked once the walk has taken the link's last name.
struct OwnerCheck {
    std::size_t names_left;  // the names left to walk once the link's own are walked
    uid_t owner;
};

class PathWalker {
  public:
    PathWalker(const std::string& name, const Walker& walker)
        : names_(split(name)), folder_(open_start(name)), walker_(walker) {}

    Walk walk() {
        if (names_.empty() || folder_.get() < 0) {
            return failed(names_.empty() && folder_.get() >= 0 ? EISDIR : errno);
        }
        for (int links = 0; links <= kMaxLinks;) {
            switch (step()) {
                case Step::ended:
                    return std::move(walk_);
                case Step::link:
                    ++links;
                    break;
                case Step::folder:
                    break;
            }
            if (names_.empty()) {
                // A link to "/" or a name such as "x/..": no file of its own in a folder.
                return failed(EISDIR);
            }
        }
        return failed(ELOOP);
    }

  private:
    enum class Step { folder, link, ended };

    // Takes the next name: into a folder, through a link, or to the walk's end (`walk_` then
    // holds where, or why not).
    Step step() {
        std::string next = std::move(names_.front());
        names_.pop_front();
        Descriptor at(::openat(folder_.get(), next.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (at.get() < 0 || ::fstat(at.get(), &info) != 0) {
            missing(std::move(next));
            return Step::ended;
        }
        if (!owners_match(info.st_uid)) {
            refused();
            return Step::ended;
        }
        if (!S_ISLNK(info.st_mode)) {
            if (names_.empty()) {
                ended(std::move(next), std::move(at), false);
                return Step::ended;
            }
            folder_ = std::move(at);
            return Step::folder;
        }
        return follow_link(std::move(next), at, info.st_uid);
    }

    Step follow_link(std::string name, const Descriptor& link, uid_t owner) {
        if (file_system_type(folder_.get()) != PROC_SUPER_MAGIC) {
            if (!follow(link, owner)) {
                if (walk_.planted) {
                    refused();
                } else {
                    walk_.error = errno;
                }
                return Step::ended;
            }
        } else if (names_.empty()) {
            through_kernel(std::move(name));
            return Step::ended;
        } else if (!enter_through_kernel(name)) {
            walk_.error = errno;
            return Step::ended;
        }
        return Step::link;
    }

  private:
    Walk failed(int error) {
        walk_.error = error;
        return std::move(walk_);
    }

    void refused() {
        walk_.planted = true;
        walk_.error = EACCES;
    }

    void ended(std::string base, Descriptor node, bool through_kernel) {
        walk_.end = PathEnd{std::move(folder_), std::move(base), std::move(node), through_kernel};
    }

    // The last name is free where its folder exists: the file would be made there, by the
    // folder's owner's leave.
    void missing(std::string base) {
        struct stat folder_info {};
        if (errno != ENOENT || !names_.empty() || ::fstat(folder_.get(), &folder_info) != 0) {
            walk_.error = errno;
        } else if (!owners_match(folder_info.st_uid)) {
            refused();
        } else {
            ended(std::move(base), Descriptor(), false);
        }
    }

    // Whether the object just reached, owned by `owner`, is what each checked link whose text
    // is now walked was to name.
    bool owners_match(uid_t owner) {
        while (!checks_.empty() && checks_.back().names_left == names_.size()) {
            if (checks_.back().owner != owner) {
                return false;
            }
            checks_.pop_back();
        }
        return true;
    }

    // Root's links are trusted: root could write anywhere itself. Another user's are checked.
    bool checked(uid_t owner) const {
        return walker_.may_override && owner != walker_.user && owner != 0;
    }

    // Follows the link `link`, owned by `owner`, by its text, under the guards. False with
    // errno set, `walk_.planted` when a guard refused it.
    bool follow(const Descriptor& link, uid_t owner) {
        struct stat folder_info {};
        if (::fstat(folder_.get(), &folder_info) != 0) {
            return false;
        }
        if (planted_in_sticky_folder(folder_info, owner, walker_)) {
            walk_.planted = true;
            return false;
        }
        const auto target = std::make_unique_for_overwrite<char[]>(PATH_MAX);
        const ssize_t size = ::readlinkat(link.get(), "", target.get(), PATH_MAX);
        if (size <= 0 || size == PATH_MAX) {
            errno = size < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        const std::string text(target.get(), static_cast<std::size_t>(size));
        if (checked(owner)) {
            checks_.push_back({names_.size(), owner});
        }
        std::deque<std::string> more = split(text);
        names_.insert(names_.begin(), more.begin(), more.end());
        if (text.starts_with('/')) {
            folder_ = open_start(text);
        }
        // A link whose text names a folder and nothing in it ("/"): that folder is what it names.
        struct stat now {};
        if (folder_.get() < 0 || ::fstat(folder_.get(), &now) != 0) {
            return false;
        }
        walk_.planted = !owners_match(now.st_uid);
        return !walk_.planted;
    }

    // One of /proc's links at the end of the name: the kernel knows what it leads to, which its
    // text may not say (a deleted file's reads "x (deleted)", a pipe's "pipe:[1234]").
    void through_kernel(std::string base) {
        Descriptor node(::openat(folder_.get(), base.c_str(), O_PATH | O_CLOEXEC));
        if (node.get() < 0) {
            walk_.error = errno;
        } else {
            ended(std::move(base), std::move(node), true);
        }
    }

    // One of /proc's links within the name: the folder the kernel's link leads to (a
    // container's root reads "/" but leads into the container).
    bool enter_through_kernel(const std::string& name) {
        Descriptor at(::openat(folder_.get(), name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (at.get() < 0) {
            return false;
        }
        folder_ = std::move(at);
        return true;
    }

    std::deque<std::string> names_;
    Descriptor folder_;
    Walker walker_;
    std::vector<OwnerCheck> checks_;
    Walk walk_;
};

}  // namespace

Walker this_process() {
    const uid_t user = ::geteuid();
    return {user, user == 0 || may_override_permissions()};
}

Walk walk_path(const std::string& name, const Walker& walker) {
    return PathWalker(name, walker).walk();
}

bool planted_in_sticky_folder(const struct stat& folder, uid_t owner, const Walker& walker) {
    return (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0 &&
           owner != walker.user && owner != folder.st_uid;
}
