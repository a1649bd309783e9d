// Read-only access to the entries of one zip archive, from a file or memory.
//
// A ZipReader is a plain record: all zero means "not open". It reads the
// archive only through zip_read_at, and nothing here throws or writes
// messages: failures come back as false or null.
#pragma once

#include <cstdint>
#include <type_traits>

#include "zip/zip_failure.h"

// Where the archive's bytes come from; zero is "none", so that a cleared
// reader never looks as if it held descriptor 0.
enum class ZipSourceKind : uint8_t { None = 0, File = 1, Memory = 2 };

// One entry's central record (offset in the central directory) and its name
// (offset in the names block).
struct ZipIndexEntry {
  uint64_t record_offset;
  uint64_t name_offset;
};

// A local header offset and the entry whose central record points at it;
// kept sorted by offset, then index, to find where each entry's data must end.
struct ZipLocalHeaderRef {
  uint64_t offset;
  uint32_t index;
};

struct ZipReader {
  ZipSourceKind source_kind;
  int fd;                 // File: the open descriptor
  const uint8_t* memory;  // Memory: the caller's block, read in place
  uint64_t archive_size;

  // The central directory: in place for a memory archive, else the block
  // read at open (central_directory_copy, which the reader owns).
  const uint8_t* central_directory;
  uint8_t* central_directory_copy;
  uint64_t central_directory_offset;
  uint64_t central_directory_size;
  uint64_t end_records_offset;  // the zip64 end record's, or else the end record's
  uint64_t end_record_offset;
  // Added to each recorded local header offset: bytes were added to (or cut
  // from) the front of the archive after its offsets were written.
  int64_t offset_shift;

  uint32_t entry_count;
  uint32_t local_header_count;       // entries whose record gave a local header offset
  ZipIndexEntry* entries;            // entry_count of them (malloc)
  char* names;                       // every name, each NUL-terminated (malloc)
  ZipLocalHeaderRef* local_headers;  // sorted (malloc)
};
static_assert(std::is_trivially_copyable_v<ZipReader> && std::is_standard_layout_v<ZipReader>,
              "owners clear a reader by setting its bytes to zero");
static_assert(static_cast<int>(ZipSourceKind::None) == 0, "all zero must mean closed");

// Releases the reader's state and closes its file; the reader is then all
// zero. Closing an all-zero reader does nothing.
void zip_close(ZipReader& reader);
