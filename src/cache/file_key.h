// What identifies a file's bytes to the cache without reading them.
#pragma once

#include <cstdint>

// The device and inode name the file wherever it is linked; its size and
// modification time change with any ordinary write. A program may set the
// modification time back (unpacking an archive over an older copy does),
// but not the status-change time, which every write, change of mode and
// rename moves on: with it a file rewritten in place, or a new file on a
// reused inode, is never taken for the old one. A renamed or moved file is
// therefore read once more under its new name.
struct FileKey {
  uint64_t device;
  uint64_t inode;
  uint64_t size;
  int64_t mtime_ns;  // nanoseconds since the epoch
  int64_t ctime_ns;  // the status-change time, likewise
};

// Which walk produced a row: a cataloguing walk reads every entry, a -pzc
// walk only the comments and the nested archives, so they keep apart.
enum class CacheWalk : uint8_t { Catalogue = 0, Comments = 1 };
