// What a file is besides its bytes: owner, group, mode, extended attributes (access lists and
// a file capability among them), and how a new file takes them on.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <vector>

// Gives the file `to` the owner, group and mode of `from_info` and exactly the extended
// attributes of the file `from`. 0 when it has them all, else the error that kept one off: a
// set-group-ID bit that the kernel drops without a word counts as EPERM.
int give_identity(int from, const struct stat& from_info, int to);

// Whether `error`, from give_identity, says that the run may not give that identity (rather
// than that something failed): EPERM; EINVAL for an owner not mapped in the run's user
// namespace; EOPNOTSUPP for an attribute the file system does not hold.
bool may_not_give(int error);

// The file capability of `fd` (its security.capability attribute), nothing when it has none.
std::optional<std::vector<char>> capability_of(int fd);

// Puts back what a write took off a file: its set-user-ID and set-group-ID bits (`mode`) and
// its capability. 0 when the file has them again, as read back (a chmod by a user outside the
// file's group drops set-group-ID without a word), else the error that kept one off.
int give_back_after_write(int fd, mode_t mode, const std::optional<std::vector<char>>& capability);
