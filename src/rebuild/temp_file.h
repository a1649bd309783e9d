// Files written under a temporary name in their final folder and renamed
// into place only once flushed and checked: a run killed at any moment
// leaves no partial file under a final name, only temporary ones, which
// the next run clears with remove_rebuild_leftovers.
#pragma once

#include <cstddef>

// Every temporary name starts so; nothing else the rebuild writes does.
inline constexpr char rebuild_temp_prefix[] = ".imgchk-tmp-";

// A temporary file being written; removed when its owner goes, unless it
// was renamed into place.
struct TempFile {
  int folder_fd = -1;  // the caller's, not closed here
  int fd = -1;         // open for reading and writing; -1 when none
  char name[64] = {};

  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
};

// Creates a new, empty temporary file in the folder (never an existing
// one). False with the errno, nothing made.
bool create_temp_file(int folder_fd, TempFile& temp, int& error_number);

// Flushes the file, renames it to `final_name` in its folder (replacing a
// file of that name) and flushes the folder, so that the new name survives
// a crash. False with the errno; the temporary file is then removed.
bool commit_temp_file(TempFile& temp, const char* final_name, int& error_number);

// Closes and removes the temporary file; nothing when there is none.
void discard_temp_file(TempFile& temp);

// Removes the files an earlier, killed run left: regular files whose names
// start with rebuild_temp_prefix, in the folder and every folder below it
// (links not followed). False with the errno of the first failure but a
// file already gone.
bool remove_rebuild_leftovers(int folder_fd, int& error_number);
