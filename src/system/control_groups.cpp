#include "control_groups.hpp"

#include <fcntl.h>
#include <unistd.h>

std::string read_kernel_file(const std::string& path) {
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    // Kernel files report no size, so the text grows until a read finds the end.
    std::size_t size = 0;
    text.resize(4096);
    for (ssize_t got; (got = ::read(fd, text.data() + size, text.size() - size)) > 0;) {
        size += static_cast<std::size_t>(got);
        if (size == text.size()) {
            text.resize(2 * size);
        }
    }
    ::close(fd);
    text.resize(size);
    return text;
}
