// An entry of a zip archive as the central directory records it.
#pragma once

#include <cstdint>

#include "zip/zip_reader.h"

// What the walkers learn of one entry from the central directory.
struct ZipEntryStat {
  const char* name;    // the whole name, NUL-terminated; valid until zip_close
  uint32_t name_size;  // bytes stored (the name may hold a NUL before that)
  uint64_t compressed_size;
  uint64_t uncompressed_size;
  uint64_t local_header_offset;  // where it is: the recorded one moved by offset_shift
  uint32_t crc32;
  uint32_t external_attributes;
  uint16_t method;
  uint16_t flags;
};

uint32_t zip_entry_count(const ZipReader& reader);

// False for an index out of range or an entry whose records are malformed.
bool zip_stat_entry(const ZipReader& reader, uint32_t index, ZipEntryStat& stat);

// True when the name ends in "/" or the DOS directory attribute is set.
bool zip_entry_is_directory(const ZipReader& reader, uint32_t index);
