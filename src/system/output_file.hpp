// The file named on the command line, which the run's picture replaces whole or not at all.
//
// The way it is written is decided once, before the drawing and before any byte is written,
// from what the name leads to and what the run may do there:
//
//   the name leads to             what the run may do                            way
//   ----------------------------  ---------------------------------------------  ---------
//   the run's standard output     (written as the shell opened it: >> appends)   stream
//   a FIFO, terminal or device    (no old content to keep, no space to reserve)  stream
//   nothing: the name is free     make a file in the folder                      replace
//   a file                        make one beside it that takes on its identity  replace
//   a file                        not so, for one of these reasons only:         in place
//                                 - another hard link leads to it, or none does (a
//                                   deleted file or a memfd, named by the kernel's
//                                   link to a descriptor: /proc/self/fd/N)
//                                 - an owner, group, mode, attribute or capability
//                                   that the run may not give (EPERM, EINVAL,
//                                   EOPNOTSUPP)
//                                 - a folder where it may not add or replace a
//                                   name (EACCES, EROFS, EPERM; append-only or
//                                   immutable)
//                                 - a sticky folder where it owns neither the
//                                   file nor the folder, and is not root
//                                 - the file is mounted on its name
//   anything else                 a link or file that another user planted in a  refuse
//                                 shared sticky folder; a folder, a missing one;
//                                 any other failure while preparing (no space,
//                                 no inode, an I/O error...): its cause said
//
// The states of a destination and their transitions:
//
//   state      holds                                 commit()           discard()
//   ---------  ------------------------------------  -----------------  ------------------
//   prepared   stream: the standard output, or the   -> committed:      -> discarded:
//              FIFO/device named (opened to write     the text closed    the name as it
//              only when the text is ready);          in, the name       was (the new file
//              replace: a new file, unnamed or under  showing it all     removed; the old
//              a random hidden name, its space        (the new file      file's reserved
//              reserved, the old file locked;         renamed over the   blocks past its
//              in place: the old file, locked, its    old one, or cut    end given back)
//              space reserved                         to its length)
//   committed  nothing                               -                  nothing to do
//   discarded  nothing                               -                  nothing to do
//
// A run that ends otherwise discards: a failure, an exception, a signal (a new file with
// no name goes with the process, even on SIGKILL; a hidden name goes with the signal handler).
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "bitmap/bitmap.hpp"
#include "file_path.hpp"

// The text goes to the file through one buffer of this size. A bigger buffer costs page faults
// and cache misses on a small picture; a smaller one, system calls on a large one.
inline constexpr std::size_t kTextBufferSize = std::size_t{1} << 16;

class Destination {
  public:
    explicit Destination(std::string name) : name_(std::move(name)) {}
    Destination(const Destination&) = delete;
    Destination& operator=(const Destination&) = delete;
    ~Destination() { discard(); }

    // Settles the way and everything the text of `length` bytes needs there: the name checked,
    // the old file locked (waiting for another run that holds it), the new file made, the
    // space reserved. `own_output`: whether the standard output is the run's own, which a
    // name that leads to it writes through. Says in one line why it refuses.
    bool prepare(std::uint64_t length, bool own_output);
    // Streams the bitmap's text through `buffer`. Says in one line why it failed.
    bool write(const CBitmap& bitmap, std::span<char> buffer);
    // The name shows the whole text. Says in one line why it failed (then as discard()).
    bool commit();
    // The name shows what it showed before the run, as far as the way allows.
    void discard();

    // The ways, each with only what it needs.
    struct Stream {
        Descriptor out;   // the standard output's copy, or the FIFO/device once opened
        Descriptor node;  // O_PATH, the FIFO or device as checked
        PathEnd end;
    };
    struct Replace {
        PathEnd end;
        Descriptor folder_to_sync;  // the folder, opened to be made durable where it may be read
        Descriptor old;             // the file replaced (locked), none for a free name
        struct stat old_info {};
        Descriptor made;
        std::string hidden;  // the new file's hidden name; empty while it has none
    };
    struct InPlace {
        Descriptor file;  // locked
        struct stat info {};
        std::optional<std::vector<char>> capability;
    };
    // None before prepare() and after commit() or discard().
    using Way = std::variant<std::monostate, Stream, Replace, InPlace>;

  private:
    bool reserve();
    bool allocate(int fd, bool keep_size, std::uint64_t needed);
    std::string open_failure_line() const;
    std::string refusal_line(int error) const;
    std::string write_failure_line() const;
    std::string too_long() const;
    std::string no_space() const;

    std::string name_;
    std::uint64_t length_ = 0;
    Way way_;
};
