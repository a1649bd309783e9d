// Pieces of an archive file by pread, or its block in memory.
#include "archive/archive_source.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

int64_t archive_source_next(ArchiveSource& source, const uint8_t** bytes) {
  if (!source.owns_fd) {
    const uint64_t left = source.offset < source.size ? source.size - source.offset : 0;
    *bytes = left == 0 ? source.memory : source.memory + source.offset;
    source.offset += left;
    return static_cast<int64_t>(left);
  }
  for (;;) {
    const ssize_t got = pread(source.fd, source.buffer, archive_piece_size, static_cast<off_t>(source.offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    *bytes = source.buffer;
    source.offset += static_cast<uint64_t>(got);
    return got;
  }
}

bool archive_source_read_at(const ArchiveSource& source, uint64_t offset, uint8_t* bytes, size_t size) {
  if (offset > source.size || size > source.size - offset) return false;
  if (!source.owns_fd) {
    if (size != 0) std::memcpy(bytes, source.memory + offset, size);
    return true;
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t got = pread(source.fd, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}
