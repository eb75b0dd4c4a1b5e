#include "identity.hpp"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

namespace {

constexpr char kCapability[] = "security.capability";

// The names of the extended attributes of `fd`, each ended by a NUL; empty where the file
// system has none. Nothing, errno set, when they cannot be read.
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

template <typename Each>
bool for_each_name(const std::vector<char>& names, Each each) {
    for (std::size_t at = 0; at < names.size(); at += std::strlen(names.data() + at) + 1) {
        if (!each(names.data() + at)) {
            return false;
        }
    }
    return true;
}

bool has_name(const std::vector<char>& names, std::string_view name) {
    return !for_each_name(names, [name](const char* one) { return name != one; });
}

std::optional<std::vector<char>> attribute(int fd, const char* name) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name, nullptr, 0);
        if (size < 0) {
            return std::nullopt;
        }
        std::vector<char> value(static_cast<std::size_t>(size));
        if (::fgetxattr(fd, name, value.data(), value.size()) == size) {
            return value;
        }
        if (errno != ERANGE) {
            return std::nullopt;
        }
    }
}

// Gives `to` exactly the extended attributes of `from`, access lists included; 0 or the error.
int copy_attributes(int from, int to) {
    const auto old_names = attribute_names(from);
    const auto new_names = old_names ? attribute_names(to) : std::nullopt;
    if (!new_names) {
        return errno;
    }
    const bool copied =
        for_each_name(*new_names,
                      [&](const char* name) {
                          return has_name(*old_names, name) || ::fremovexattr(to, name) == 0;
                      }) &&
        for_each_name(*old_names, [&](const char* name) {
            const auto value = attribute(from, name);
            return value && ::fsetxattr(to, name, value->data(), value->size(), 0) == 0;
        });
    return copied ? 0 : errno;
}

}  // namespace

int give_identity(int from, const struct stat& from_info, int to) {
    struct stat made {};
    if (::fstat(to, &made) != 0) {
        return errno;
    }
    if ((made.st_uid != from_info.st_uid || made.st_gid != from_info.st_gid) &&
        ::fchown(to, from_info.st_uid, from_info.st_gid) != 0) {
        return errno;
    }
    if (::fchmod(to, from_info.st_mode & 07777) != 0) {
        return errno;
    }
    if (const int error = copy_attributes(from, to); error != 0) {
        return error;
    }
    if (::fstat(to, &made) != 0) {
        return errno;
    }
    const bool same = made.st_uid == from_info.st_uid && made.st_gid == from_info.st_gid &&
                      (made.st_mode & 07777) == (from_info.st_mode & 07777);
    return same ? 0 : EPERM;
}

bool may_not_give(int error) {
    return error == EPERM || error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP;
}

std::optional<std::vector<char>> capability_of(int fd) {
    return attribute(fd, kCapability);
}

int give_back_after_write(int fd, mode_t mode, const std::optional<std::vector<char>>& capability) {
    if (capability && capability_of(fd) != capability &&
        ::fsetxattr(fd, kCapability, capability->data(), capability->size(), 0) != 0) {
        return errno;
    }
    struct stat now {};
    if (::fstat(fd, &now) != 0) {
        return errno;
    }
    // Only the set-ID bits can have gone; the chmod is asked for only then, since a writer that
    // does not own the file may not make it.
    if ((now.st_mode & 07777) != (mode & 07777) &&
        (::fchmod(fd, mode & 07777) != 0 || ::fstat(fd, &now) != 0)) {
        return errno;
    }
    if ((now.st_mode & 07777) != (mode & 07777)) {
        return EPERM;  // set-group-ID dropped without a word, outside the file's group
    }
    // The kernel may keep a capability off without an error.
    return !capability || capability_of(fd) == capability ? 0 : EPERM;
}
