// The rebuild's temporary files (see base/file_replacement.h), all named
// with one prefix in their final folder: a run killed at any moment leaves
// no partial file under a final name, only temporary ones, which the next
// run clears with remove_rebuild_leftovers.
#pragma once

#include "base/file_replacement.h"

// Every temporary name starts so; nothing else the rebuild writes does.
inline constexpr char rebuild_temp_prefix[] = ".imgchk-tmp-";

// A new, empty temporary file in the folder, named with the prefix. False
// with the errno, nothing made.
bool create_rebuild_temp_file(int folder_fd, TempFile& temp, int& error_number);

// Removes the files an earlier, killed run left: regular files whose names
// start with rebuild_temp_prefix, in the folder and every folder below it
// (links not followed). False with the errno of the first failure but a
// file already gone.
bool remove_rebuild_leftovers(int folder_fd, int& error_number);
