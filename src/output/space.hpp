// Room for the text in the file before a byte of it is written.
#pragma once

#include <cstdint>
#include <string>

// Reserves `length` bytes for the text in the file `fd`, on a file system of type `file_system`
// (for an old file rewritten in place, `keep_size`: its size unchanged, the blocks past its end
// given back by a later cut to its size). The file system's answer decides where it can reserve
// (a quota, root's reserved blocks as it grants them); only where it cannot is the free space
// asked instead, an old file's blocks (`reusable` bytes) counted where they are written over.
// Refused past the file-size limit or the largest file the file system holds. Says in one line
// why it refuses, of the file `name`.
bool reserve_space(int fd, std::uint32_t file_system, std::uint64_t length, bool keep_size,
                   std::uint64_t reusable, const std::string& name);
