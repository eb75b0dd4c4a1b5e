// The floor every room that touches files stands on: a descriptor that closes itself, the one way
// to restart a call cut short by a signal, and the facts a descriptor alone can tell.
#pragma once

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>

// A file descriptor, closed when it goes (-1 for none).
class Descriptor {
  public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept;
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { close(); }
    int get() const { return fd_; }
    // Closes the descriptor; false when the close reports an error (a delayed write failing).
    bool close();

  private:
    int fd_ = -1;
};

// Calls `call` again as long as a signal cuts it short (-1 with EINTR); its result otherwise.
template <typename Call>
auto restarted_on_eintr(Call call) {
    decltype(call()) result;
    while ((result = call()) == -1 && errno == EINTR) {
    }
    return result;
}

bool same_file(const struct stat& a, const struct stat& b);

// The type of the file system that `fd` is on (its magic number, as the 32-bit number it is
// whatever the width of f_type); 0 when it cannot tell.
std::uint32_t file_system_type(int fd);

// Those of the statx attributes `wanted` (STATX_ATTR_*) that `fd` has; 0 when it cannot tell.
std::uint64_t statx_attributes(int fd, std::uint64_t wanted);
