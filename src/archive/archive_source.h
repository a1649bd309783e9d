// Where an archive's bytes come from, read from the front piece by piece.
#pragma once

#include <cstddef>
#include <cstdint>

// A descriptor the reader owns, read with pread at its own offset (so that
// the archive can be opened again), or a block the caller keeps alive,
// read in place.
struct ArchiveSource {
  int fd;
  bool owns_fd;  // false for a block in memory
  const uint8_t* memory;
  uint64_t size;
  uint64_t offset;  // of the next byte handed out
  uint8_t* buffer;  // archive_piece_size bytes for pieces of the file (malloc)
};

// The size of the pieces read from an archive file.
inline constexpr size_t archive_piece_size = size_t{256} << 10;

// The bytes from `offset` on, and moves `offset` past them: the next piece
// of the file, read into `buffer`, or the rest of the block in place. 0 at
// the end; -1 when the file cannot be read.
int64_t archive_source_next(ArchiveSource& source, const uint8_t** bytes);

// Exactly `size` bytes at `offset`; false when they are not all there or
// the file cannot be read.
bool archive_source_read_at(const ArchiveSource& source, uint64_t offset, uint8_t* bytes, size_t size);
