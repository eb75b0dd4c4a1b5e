// The one decision of how the run writes its destination, taken from the facts gathered before
// the drawing, before any file is made or any byte written. The first row whose facts hold wins:
//
//   the name leads to                                               way       reason
//   --------------------------------------------------------------  --------  ---------------
//   nowhere: a folder missing, a loop of links, an empty name       refuse    leads_nowhere
//   past a link planted by another user (see path_walk.hpp)         refuse    planted
//   nothing: the name is free                                       replace   free_name
//   the standard output's file, the output being a closed one's     refuse    closed_output
//     stand-in
//   the standard output's file, or a descriptor of the run's open   stream    own_descriptor
//     for writing (/proc/self/fd/N): written as the shell opened it
//   a file or FIFO of another user's in a shared sticky folder      refuse    planted
//   a FIFO or device of another user's, in a folder that user may   refuse    planted
//     write, for a run that may override permissions
//   a FIFO, terminal or device the run may not write                refuse    not_writable
//   a FIFO, terminal or device: no old content, no space to keep    stream    device
//   a folder                                                        refuse    folder
//   a socket, or anything else that is not a file                   refuse    not_a_file
//   a file the run may not write                                    refuse    not_writable
//   a file reached through /proc's link to it (no name left, or     in place  through_kernel
//     one the run cannot trust to be its name)
//   a file that other hard links lead to                            in place  other_links
//   a file mounted on its name                                      in place  mounted_on_name
//   a file in an append-only or immutable folder                    in place  names_fixed
//   a file in a sticky folder of which the run, not root, owns      in place  sticky_keeps
//     neither the file nor the folder
//   any other file                                                  replace   old_file
//
// Two facts are learnt only by trying, in the replace way itself, and each turns it into a
// rewrite in place: a folder where the run may not add a name (EACCES, EROFS, EPERM), and an
// owner, group, mode, attribute or capability of the old file that the run may not give to the
// new one (EPERM, EINVAL, EOPNOTSUPP).
#pragma once

#include "files/facts.hpp"

enum class Way { stream, replace, in_place, refuse };

enum class Reason {
    leads_nowhere,
    planted,
    free_name,
    closed_output,
    own_descriptor,
    not_writable,
    device,
    folder,
    not_a_file,
    through_kernel,
    other_links,
    mounted_on_name,
    names_fixed,
    sticky_keeps,
    old_file,
};

struct Verdict {
    Way way;
    Reason reason;
    int error = 0;  // for a refusal, the cause
};

Verdict decide(const DestinationFacts& facts);
