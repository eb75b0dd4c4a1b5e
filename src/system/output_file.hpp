// The file named on the command line, which the run's picture replaces whole or not at all.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "bitmap/bitmap.hpp"

// The text goes to the file through one block of this size. A bigger block costs page faults
// and cache misses on a small picture; a smaller one, system calls on a large one.
inline constexpr std::size_t kTextBlockSize = std::size_t{1} << 16;

// Where the file that `file_name` names is, or would be created: the end of its chain of
// symbolic links, dangling or not; the name itself when it is no link. Nothing when a link of
// that chain is one that the kernel refuses to follow for this process: a link in a shared
// sticky folder such as /tmp, planted by another user.
std::optional<std::string> where_file_lives(const std::string& file_name);

// The folder that a file at `path` is in, or would be made in: "." for a bare name.
std::string folder_of(const std::string& path);

// An open file, closed when it goes.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&& other) noexcept;
    ~Descriptor() { close(); }
    int get() const { return fd_; }
    // Closes the file; false when the close reports an error (a delayed write failing).
    bool close();

  private:
    int fd_;
};

// The output file of one run, through these steps:
//
//   open ──> prepare ──> write ──> finish(keep)      the name shows the whole new picture
//    │          │          │
//    └──────────┴──────────┴─────> finish(discard)   the name shows what it showed before
//
// open     finds what the name leads to, and the way to write it:
//          - stream: a pipe, terminal or device, or the run's own standard output, written as
//            it comes, without lock or checks;
//          - replace: a new file, beside the real one (past any symbolic link), with its mode,
//            owner, group and extended attributes; it has no name where the system allows,
//            else a hidden one. The old file, if any, stays locked against other runs;
//          - in_place: an existing file that a new one could not stand in for (another hard
//            link to it, an owner, group or attribute the run cannot give, a folder it may not
//            write in), rewritten from its start once nothing foreseeable can stop the write.
// prepare  refuses, in one line that says why, a text that cannot fit: past the file-size
//          limit or the largest file the file system holds, or beyond its free space. The space
//          is reserved where the file system can.
// write    streams the text.
// finish   is the only step that renames or cuts, and the only one that closes or removes
//          what the others opened but a new file that open itself drops when it cannot take
//          the old one's identity: keep puts the new file in the name's place (made durable
//          first) or cuts the rewritten one to its length; discard removes the new file. A run
//          that ends any other way discards: on a failure, an exception, or a signal (the
//          kernel drops a file with no name by itself, even on SIGKILL).
class OutputFile {
  public:
    enum class Way { stream, replace, in_place };

    explicit OutputFile(std::string name) : name_(std::move(name)) {}
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() { finish(false); }

    // Each step says, in one line, why it failed.
    bool open();
    bool prepare(std::uint64_t length);
    bool write(const CBitmap& bitmap, std::span<char> block);
    bool finish(bool keep);

    Way way() const { return way_; }

  private:
    enum class Opened { yes, no, again };
    Opened open_named();
    bool replaceable(const std::optional<std::string>& real);
    bool open_folder(const std::string& real);
    bool make_file(mode_t mode);
    bool take_on_old_identity();
    bool settle();
    std::string hidden_name(int attempt) const;
    template <typename Make>
    bool take_hidden_name(Make make);
    void drop_new_file();
    std::string cannot_write() const;
    void forget_hidden_name();

    std::string name_;
    Way way_ = Way::stream;
    bool open_ = false;
    std::uint64_t length_ = 0;
    // The file as named: the old file (locked while the run lasts), or what the text goes to.
    Descriptor target_;
    struct stat target_info_ {};
    // The real file's folder and its name there, and the new file that replaces it.
    Descriptor folder_;
    std::string base_;
    // The new file, and its hidden name where it has one; none while it has no name at all.
    Descriptor new_file_;
    std::string hidden_name_;
};

// Streams the bitmap's text into the file named `file_name` through `block`, by the steps of
// OutputFile. Returns whether the whole text is in, under that name.
bool save_xbm(const CBitmap& bitmap, const std::string& file_name, std::span<char> block);
