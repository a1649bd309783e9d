// Where a reader's bytes come from: a file read with pread, or a memory block
// read in place.
#pragma once

#include <cstdint>

#include "base/malloc_block.h"
#include "zip/zip_reader.h"

struct OpenedFile;

// Reads `size` bytes at `offset` of the archive; false on a short read.
bool zip_read_at(const ZipReader& reader, uint64_t offset, void* out, uint64_t size);

// Opens the file with open_and_size. False, with nothing open, for a path
// that can't be opened or anything but a regular file (a directory, a named
// pipe, a device).
bool zip_source_open_file(ZipReader& reader, const char* path);

// The same for a file the caller opened and sized; the reader takes the
// descriptor over, and closes it at once on failure. Only a regular file is
// an archive.
bool zip_source_use_file(ZipReader& reader, const OpenedFile& file);

void zip_source_use_memory(ZipReader& reader, const void* block, uint64_t size);

// `size` bytes at `offset`: in place for a memory archive; for a file, read
// into a new block that `owned` then holds. Null when the bytes aren't all
// there or memory runs out.
const uint8_t* zip_view_at(const ZipReader& reader, uint64_t offset, uint64_t size, MallocBlock& owned);

void zip_source_close(ZipReader& reader);
