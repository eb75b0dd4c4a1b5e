// The hidden name that a new file has in its folder until it takes the destination's name: one
// at a time in a run, and the very entry that the ending signals' handler removes.
//
//   state   holds                         take()         rename_over()        remove()
//   ------  ----------------------------  -------------  -------------------  ---------------
//   none    nothing                       -> named       -                    nothing to do
//   named   the folder and ".BASE.XXXXXX  -              -> none: the name    -> none: the
//           XX", listed for the handler                  given to the file    file unlinked
#pragma once

#include <string>

namespace hidden_name {

// Gives a random hidden name beside `base` in `folder` to what `make(name)` makes there (false
// with EEXIST when the name is taken: another is drawn), and lists it for the signal handler.
// False, errno set, when no name could be made.
bool take(int folder, const std::string& base, bool (*make)(void* context, const char* name),
          void* context);

// The hidden name while there is one, else an empty text.
const char* current();

// Renames the hidden file over `base` in its folder: it is the destination's now.
bool rename_over(const std::string& base);

// Unlinks the hidden file, if any.
void remove();

}  // namespace hidden_name
