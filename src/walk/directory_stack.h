// The directories on the way from a command-line path down to the one being
// walked, each with the entries still to walk: their identities, so that a
// link back to one of them is not followed, and a bounded number of open
// descriptors, so that a tree of any depth is walked within the limit on
// open files. The walk loops over this stack rather than recursing, so that
// depth costs no machine stack either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct DirectoryId {
  uint64_t device;
  uint64_t inode;
  bool operator==(const DirectoryId&) const = default;
};

// A name in a directory and whether the directory says it is a regular file
// (only a hint: a path is handled by what it is when opened).
struct DirectoryEntry {
  std::string name;
  bool is_plain_file;
};

struct DirectoryLevel {
  DirectoryId id;
  int fd;            // owned; -1 while released
  std::string name;  // how it is opened from the level above
  std::string path;  // its display name
  std::vector<DirectoryEntry> entries;
  size_t next_entry;  // the walk's place in `entries`
};

struct DirectoryStack {
  std::vector<DirectoryLevel> levels;
  DirectoryStack() = default;
  ~DirectoryStack();
  DirectoryStack(const DirectoryStack&) = delete;
  DirectoryStack& operator=(const DirectoryStack&) = delete;
};

// True when a directory with this identity is on the way down (a loop).
bool is_on_stack(const DirectoryStack& stack, DirectoryId id);

// Makes the directory open as `fd` (taken over), named `name` in the level
// above and `path` to the user, with the entries to walk, the innermost
// level. Below the first few levels, the level above gives up its
// descriptor until the walk comes back to it.
void enter_directory(DirectoryStack& stack, int fd, DirectoryId id, const char* name, const char* path,
                     std::vector<DirectoryEntry>&& entries);

// Closes the innermost level. When the level above gave up its descriptor,
// it is reopened through "..", if that leads to the same directory.
void leave_directory(DirectoryStack& stack);

// The innermost level's descriptor, reopened by name from the nearest open
// level above when it was given up; -1, with errno set, when the
// directories on the way no longer are those that were entered (moved,
// removed, a link changed).
int innermost_directory_fd(DirectoryStack& stack);
