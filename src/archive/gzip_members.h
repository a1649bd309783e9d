// A gzip file read as gzip -d reads it: member after member, each member's
// CRC-32 and length checked against its own trailer, the image being the
// members' data in order. Zero bytes may follow the last member (tape and
// some writers pad a file so); anything else after it fails the image.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/archive_failure.h"
#include "archive/archive_source.h"

struct z_stream_s;

// A plain record: all zero means "not open".
struct GzipMembers {
  z_stream_s* inflater;  // zlib's, for gzip members only (malloc)
  const uint8_t* input;  // the part of the source's last piece not yet given to zlib
  uint64_t input_left;
  bool between_members;  // a member has ended: what follows is yet to be seen
  bool ended;            // the last member and any zero bytes after it are read
  bool failed;
};

// Reads from the source's first byte, which must begin a whole gzip member
// header (the magic bytes, deflate, no reserved flag, its optional fields
// and, when present, a header CRC that matches). True with the header read;
// false with nothing left open and NotAnArchive (also when the file cannot
// be read) or OutOfMemory in `failure`.
bool gzip_open(GzipMembers& gzip, ArchiveSource& source, ArchiveFailure& failure);

// The image's next bytes into `buffer`; `size` 0 at its end. False with
// DamagedData when the data are broken or cut short, a member fails its
// trailer, or bytes other than zeros follow the last member; OutOfMemory
// when zlib cannot have its window. After a failure every read fails.
bool gzip_read(GzipMembers& gzip, ArchiveSource& source, uint8_t* buffer, size_t capacity, size_t& size,
               ArchiveFailure& failure);

// Releases the inflater; the record is then all zero.
void gzip_close(GzipMembers& gzip);
