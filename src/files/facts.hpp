// What a destination is, gathered by one walk of its name before anything is decided about it.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "path_walk.hpp"

struct DestinationFacts {
    Walker walker;
    int error = 0;         // why the name leads nowhere (errno); 0 when it leads somewhere
    bool planted = false;  // a link, file, FIFO or device planted by another user: refused
    PathEnd end;
    struct stat info {};  // of end.node, when the name is taken
    struct stat folder_info {};
    std::uint32_t file_system = 0;  // of the node, else of the folder where it would be made
    bool mounted_on_name = false;   // the node is mounted on its name (a bind mount)
    bool names_fixed = false;       // its folder is append-only or immutable
    bool writable = false;          // the run may write the node
    bool own_output = true;         // the standard output is the run's own, not a stand-in
    bool standard_output = false;   // the node is the standard output's file
    int descriptor = -1;  // the run's own descriptor, open for writing, that the name leads to

    bool free() const { return error == 0 && end.node.get() < 0; }
};

// One walk of `name`, then a look at what it leads to. `own_output`: whether the standard output
// is the run's own rather than a stand-in for a closed one.
DestinationFacts gather_facts(const std::string& name, const Walker& walker, bool own_output);

// Whether the file is, or would be, kept in memory (tmpfs, ramfs), where it is charged to
// memory like the run's own.
bool kept_in_memory(const DestinationFacts& facts);
