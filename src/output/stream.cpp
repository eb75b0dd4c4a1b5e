#include <fcntl.h>
#include <unistd.h>

#include "system/report.hpp"
#include "ways.hpp"

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = restarted_on_eintr([&] { return ::write(fd, data, size); });
        if (written <= 0) {
            errno = written == 0 ? EIO : errno;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

Prepared StreamWay::prepare(const WayContext& context) {
    if (facts_.descriptor < 0 && !facts_.standard_output) {
        return Prepared::ready;  // a FIFO or device, opened once the text is ready
    }
    // A copy of the run's own descriptor, above the standard ones.
    const int descriptor = facts_.standard_output ? STDOUT_FILENO : facts_.descriptor;
    out_ = Descriptor(::fcntl(descriptor, F_DUPFD_CLOEXEC, 3));
    if (out_.get() < 0) {
        report(open_failure_line(context.name));
        return Prepared::refused;
    }
    return Prepared::ready;
}

bool StreamWay::begin(const WayContext& context) {
    if (out_.get() >= 0) {
        return true;
    }
    // One of /proc's links is followed, as the walk did; any other name was walked to its end.
    const PathEnd& end = facts_.end;
    out_ = Descriptor(
        ::openat(end.folder.get(), end.base.c_str(),
                 O_WRONLY | O_NOCTTY | O_CLOEXEC | (end.through_kernel ? 0 : O_NOFOLLOW)));
    struct stat opened {};
    if (out_.get() < 0 || ::fstat(out_.get(), &opened) != 0 || !same_file(opened, facts_.info)) {
        report(open_failure_line(context.name));  // or something else took the name meanwhile
        return false;
    }
    return true;
}

bool StreamWay::commit(const WayContext& context) {
    if (!out_.close()) {
        report(write_failure_line(context.name) + cause(errno));
        return false;
    }
    return true;
}
