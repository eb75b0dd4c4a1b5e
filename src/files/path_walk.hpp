// Where a file name leads: walked one name at a time through folder descriptors, every symbolic
// link met followed by the walk itself, so that the guards below hold for each link of the path
// and not only for the last.
#pragma once

#include <sys/types.h>

#include <string>

#include "descriptor.hpp"

// Who walks: the guards depend on it.
struct Walker {
    uid_t user = 0;             // the effective user
    bool may_override = false;  // may override file permissions: root, or CAP_DAC_OVERRIDE
};

// The walker of this process.
Walker this_process();

// Where a walk ended. `folder` holds the file, or would; `node` is what the name leads to there,
// no symbolic link (but one of /proc's, which the kernel followed), -1 when the name is free.
struct PathEnd {
    Descriptor folder;  // O_PATH
    std::string base;
    Descriptor node;              // O_PATH
    bool through_kernel = false;  // `base` is one of /proc's links, opened through the kernel
};

// A walk's outcome: the end, or the error that stopped it (ENOENT for a missing folder, ELOOP
// past 40 links, EISDIR for a name of a folder, EACCES...), `planted` when a guard stopped it:
// - a link in a shared sticky folder (anyone may write, sticky) owned neither by the walker nor
//   by the folder's owner, whatever the machine's own protected_symlinks says;
// - for a walker that may override permissions, a link owned by another user that names what
//   that user does not own: the file, folder or next link it names, or, where nothing is there
//   yet, the folder the file would be made in.
// /proc's own links are opened through the kernel, never walked by their text (a container's
// root, a descriptor's file), and are exempt from both guards; the path after them is not.
struct Walk {
    PathEnd end;
    int error = 0;
    bool planted = false;
};

Walk walk_path(const std::string& name, const Walker& walker);

// Whether a file owned by `owner` in the folder `folder` stands in a sticky folder that anyone may
// write in, owned neither by `walker` nor by the folder's owner: planted there by another user.
bool planted_in_sticky_folder(const struct stat& folder, uid_t owner, const Walker& walker);
