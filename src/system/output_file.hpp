// Writing the XBM text into the file named on the command line: in place, one writer at a time,
// and only once nothing foreseeable can stop the write.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "bitmap/bitmap.hpp"

// The text goes to the file through one block of this size. A bigger block costs page faults
// and cache misses on a small picture; a smaller one, system calls on a large one.
inline constexpr std::size_t kTextBlockSize = std::size_t{1} << 16;

// Where the file that `file_name` names is, or would be created: the end of its chain of
// symbolic links, dangling or not. The name itself when it is no link, or cannot be read.
std::string where_file_lives(const std::string& file_name);

// Streams the bitmap's text into the file through `block`, creating the file (0666 less the
// umask) or rewriting it in place. For a regular file, waits for any other writer of it first,
// and leaves the old content untouched unless the whole text fits: in the room left on its file
// system and under the file-size limit. A file this run created and could not complete is
// removed, on a failure as on SIGINT, SIGTERM or SIGHUP. Each failure is reported in one line;
// returns whether the whole text got into the file.
bool save_xbm(const CBitmap& bitmap, const std::string& file_name, std::span<char> block);
