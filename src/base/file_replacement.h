// Writing a file whole or not at all: the bytes go to a new file in the same
// folder, which is flushed to the disk and then renamed over the old one, so
// that a failed or interrupted write never leaves a half-written file, and
// a reader sees either the old file or the new one.
#pragma once

#include <cstdio>
#include <string>

struct FileReplacement {
  std::FILE* out;         // where the bytes go
  std::string target;     // the file replaced: the path, or a link's target
  std::string temporary;  // the new file until it is renamed; "" when written in place
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
