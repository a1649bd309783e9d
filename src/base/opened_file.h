// Opening a file by what it is, and reading it at an offset: one home for
// both, under the zip reader and the walkers alike.
#pragma once

#include <cstddef>
#include <cstdint>

enum class FileKind {
  Regular,    // `size` is its size
  Directory,  // nothing read yet
  Unsized,    // a named pipe, a device, or a regular file that gives no size
};

struct OpenedFile {
  int fd;  // the caller owns it and closes it
  FileKind kind;
  uint64_t size;    // Regular only
  uint64_t device;  // with `inode`, tells a file from every other
  uint64_t inode;
  int64_t mtime_ns;  // the modification time, in nanoseconds since the epoch
  int64_t ctime_ns;  // the status-change time, likewise
};

// Opens `name` read-only (relative to `directory_fd`, or AT_FDCWD) without
// blocking, so that a named pipe cannot hang the run, and learns what it
// is. A regular file's size is in its status; some files of the kernel's
// (under /proc) say 0 there, and seeking tells the truth or fails. False,
// with nothing open, when it cannot be opened or its status taken.
bool open_and_size(int directory_fd, const char* name, OpenedFile& file);

// Reads exactly `size` bytes at `offset` into `out`, in as many reads as it
// takes. False on a read error or when the file ends first (it may have
// shrunk).
bool read_exactly(int fd, uint64_t offset, uint8_t* out, uint64_t size);
