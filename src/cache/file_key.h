// What identifies a file's bytes to the cache without reading them.
#pragma once

#include <cstdint>

// The device and inode name the file wherever it is linked, so that a
// renamed or moved file is still known; its size and modification time
// change with any ordinary write. The status-change time is left out: a
// rename changes it, and the bytes stay the same.
struct FileKey {
  uint64_t device;
  uint64_t inode;
  uint64_t size;
  int64_t mtime_ns;  // nanoseconds since the epoch
};

// Which walk produced a row: a cataloguing walk reads every entry, a -pzc
// walk only the comments and the nested archives, so they keep apart.
enum class CacheWalk : uint8_t { Catalogue = 0, Comments = 1 };
