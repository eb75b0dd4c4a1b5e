// Where a file name leads: the folder that holds the file, or would hold it, past every symbolic
// link along the path, and whether the run may follow those links at all.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

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

// The end of a name: the folder that holds the file (opened O_PATH) and its name there, which
// is no symbolic link but one of the kernel's own to a pipe, socket or file with no name. The file
// itself may not exist.
struct PathEnd {
    Descriptor folder;
    std::string base;
};

// Follows `name` one name at a time, every symbolic link met included, not only the
// last (but the kernel's own link to an open pipe or socket, which ends the path as it is). A link
// that the kernel's guard of shared sticky folders would not follow (protected_symlinks = 1) is
// refused with EACCES whatever the machine's own setting, so that a run as root never writes where
// another user's link points. Nothing, errno set, when the name cannot lead anywhere: a folder
// missing, a loop of links, an empty name.
std::optional<PathEnd> follow_path(const std::string& name);

// Whether the link `name` in `folder` is one of the kernel's own links to an open file
// (/dev/stdout leads to /proc/self/fd/1) whose text names no path of it: a pipe or socket
// ("pipe:[1234]"), or a file that no name leads to any more ("/tmp/x (deleted)", a memfd). Only
// the kernel can follow it.
bool leads_to_no_path(const Descriptor& folder, const std::string& name);

// Whether a file owned by `owner` in `folder` stands in a sticky folder that anyone may write
// in, owned neither by this process nor by the folder's owner: planted there by another user.
bool planted_in_sticky_folder(const struct stat& folder, uid_t owner);

// Whether the last refusal of follow_path was of a link that another user planted.
bool refused_as_planted();
void set_refused_as_planted(bool planted);
