// The least a program can do to produce a file of N bytes: start, write them, exit.
//   fractxbm_floor FILE N           writes from one reused 64 KiB buffer
//   fractxbm_floor FILE N whole     first allocates and fills all N bytes, as a program that holds
//                                   its whole output in memory before opening the file must
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string_view>

int main(int argc, char* argv[]) {
    if (argc < 3) {
        return 2;
    }
    const std::size_t size = std::strtoull(argv[2], nullptr, 10);
    const bool whole = argc > 3 && std::string_view(argv[3]) == "whole";
    const std::size_t buffer_size = whole ? size : std::min<std::size_t>(size, 65536);
    char* data = static_cast<char*>(std::malloc(buffer_size + 1));
    if (data == nullptr) {
        return 1;
    }
    std::memset(data, '0', buffer_size);
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
        return 1;
    }
    for (std::size_t done = 0; done < size;) {
        const std::size_t offset = whole ? done : 0;
        const ssize_t written = ::write(fd, data + offset, std::min(buffer_size, size - done));
        if (written <= 0) {
            return 1;
        }
        done += static_cast<std::size_t>(written);
    }
    std::free(data);
    return ::close(fd) == 0 ? 0 : 1;
}
