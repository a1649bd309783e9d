// Writing a file whole or not at all: the bytes go to a new file under a
// temporary name in the same folder, which is flushed to the disk and then
// renamed over the old one, and the folder flushed, so that a failed or
// interrupted write never leaves a half-written file under the final name,
// and a reader sees either the old file or the new one. The one way imgchk
// replaces a file: the DATs it writes and the rebuild's sets.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <string_view>

// A file being written under a temporary name; closed and removed when its
// owner goes, unless it was renamed into place.
struct TempFile {
  int folder_fd = -1;  // not closed here
  int fd = -1;         // open for reading and writing; -1 when none
  std::string name;    // in the folder; "" when none
  bool renamed = false;

  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
};

// Creates a new, empty file in the folder named `name_start`, this
// process's id, '-', a serial number and `name_end` (never an existing
// file: the next number is tried), with `mode` less the umask. False with
// the errno, nothing made.
bool create_temp_file(int folder_fd, std::string_view name_start, const char* name_end, mode_t mode, TempFile& temp,
                      int& error_number);

// Flushes the file, renames it to `final_name` in its folder (replacing a
// file of that name) and flushes the folder, so that the new name survives
// a crash. False with the errno; when the rename failed the temporary file
// is removed, and `renamed` tells whether it happened (only the folder's
// flush failed).
bool commit_temp_file(TempFile& temp, const char* final_name, int& error_number);

// Closes and removes the temporary file; nothing when there is none.
void discard_temp_file(TempFile& temp);

// The same for a writer through stdio, by path.
struct FileReplacement {
  std::FILE* out = nullptr;  // where the bytes go
  std::string target;        // the file replaced: the path, or a link's target
  int folder_fd = -1;        // the target's folder; -1 when written in place
  TempFile temp;             // the new file until it is renamed
};

// Opens a new file beside `path` for writing, with the old file's
// permissions when there is one (else 0666 less the umask). A symbolic link
// is followed, and its target replaced. A path that names no regular file
// nor folder (a pipe, a terminal, /dev/null) is written in place, as there
// is nothing to replace there. False, with errno, when nothing could be
// opened.
bool begin_file_replacement(const char* path, FileReplacement& replacement);

// Flushes the bytes, syncs them to the disk and renames the new file over
// the old one. False when a write, the sync or the rename failed: the new
// file is then removed, and the old one is as it was.
bool finish_file_replacement(FileReplacement& replacement);

// Closes and removes the new file; the old one is as it was.
void abandon_file_replacement(FileReplacement& replacement);

// The three in one for a writer that writes everything in one call; a
// false from `write` abandons the file.
bool replace_file_atomically(const char* path, bool (*write)(std::FILE* out, const void* context), const void* context);
