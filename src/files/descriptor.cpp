#include "descriptor.hpp"

#include <fcntl.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <utility>

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

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::uint32_t file_system_type(int fd) {
    struct statfs info {};
    return ::fstatfs(fd, &info) == 0 ? static_cast<std::uint32_t>(info.f_type) : 0;
}

std::uint64_t statx_attributes(int fd, std::uint64_t wanted) {
    struct statx info {};
    if (::statx(fd, "", AT_EMPTY_PATH, 0, &info) != 0) {
        return 0;
    }
    return info.stx_attributes_mask & info.stx_attributes & wanted;
}
