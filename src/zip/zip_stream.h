// Unpacking as a stream: an entry's compressed data come in piece by piece
// and its unpacked bytes leave piece by piece, so that no entry, however
// large it claims to be, is ever held whole.
#pragma once

#include <cstddef>
#include <cstdint>

#include "zip/zip_reader.h"

// The size of the pieces read from an archive and handed on; large enough
// to keep the per-piece costs small, small enough to stay in the cache.
inline constexpr size_t zip_piece_size = size_t{256} << 10;

// The compressed data of one entry, handed out in pieces of at most
// zip_piece_size bytes: in place from a memory archive, read into `buffer`
// (zip_piece_size bytes, the caller's) from a file.
struct ZipEntryInput {
  const ZipReader* reader;
  uint64_t offset;     // of the next byte not yet handed out
  uint64_t remaining;  // bytes not yet handed out
  uint8_t* buffer;
};

// The next piece, valid until the next call; size 0 once every byte was
// handed out. False when the archive cannot be read.
bool zip_next_input(ZipEntryInput& input, const uint8_t*& bytes, size_t& size);

// Where unpacked bytes go. `write` returns false to stop the unpacking (the
// entry turned out longer than its record says); a decoder then returns
// false at once. `buffer` is zip_piece_size bytes of scratch a decoder may
// fill before writing it.
struct ZipOutput {
  uint8_t* buffer;
  void* context;
  bool (*write)(void* context, const uint8_t* bytes, size_t size);
};

inline bool zip_write_output(const ZipOutput& output, const uint8_t* bytes, size_t size) {
  return size == 0 || output.write(output.context, bytes, size);
}
