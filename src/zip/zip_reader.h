// Read-only access to the entries of one zip archive, from a file or memory.
//
// A ZipReader is a plain record: all zero means "not open". It reads the
// archive only through zip_read_at, and nothing here throws or writes
// messages: failures come back as false or null.
#pragma once

#include <cstdint>

// What the walkers learn of one entry from the central directory.
struct ZipEntryStat {
  const char* name;      // the whole name, NUL-terminated; valid until zip_close
  uint32_t name_size;    // bytes stored (the name may hold a NUL before that)
  uint64_t compressed_size;
  uint64_t uncompressed_size;
  uint64_t local_header_offset;
  uint32_t crc32;
  uint32_t external_attributes;
  uint16_t method;
  uint16_t flags;
};

struct ZipReader {
  // TODO(zip reader): the reader's own fields; all zero must mean closed.
  uint64_t archive_size;
};

// Reads `size` bytes at `offset` of the archive; false on a short read.
bool zip_read_at(const ZipReader& reader, uint64_t offset, void* out, uint64_t size);

uint32_t zip_entry_count(const ZipReader& reader);

// False for an index out of range or an entry whose records are malformed.
bool zip_stat_entry(const ZipReader& reader, uint32_t index, ZipEntryStat& stat);

// True when the name ends in "/" or the DOS directory attribute is set.
bool zip_entry_is_directory(const ZipReader& reader, uint32_t index);

// The entry's bytes in a new block released with zip_free, and their count
// in `size`; null (size 0) on any failure. An empty entry gives a non-null
// block of 0 bytes.
uint8_t* zip_extract_entry(ZipReader& reader, uint32_t index, uint64_t& size);

void zip_free(void* block);

// Releases the reader's state and closes its file; the reader is then all zero.
void zip_close(ZipReader& reader);
