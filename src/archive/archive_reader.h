// Reading the entries of a 7z, tar, gzip or RAR archive, in the order they
// are stored, one piece of an entry's data at a time: a gzip image through
// zlib (gzip_members), every other kind through libarchive.
//
// An ArchiveReader is a plain record: all zero means "not open". Nothing
// here throws or writes messages: failures come back as false or Failed,
// with the reason in `failure`. Only the format and the compression filter
// that the kind names are enabled, so a file is read only as what its name
// says it is.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/archive_failure.h"
#include "archive/archive_kind.h"
#include "archive/archive_source.h"
#include "archive/gzip_members.h"

struct archive;
struct archive_entry;

// What the walker learns of one entry, valid until the next step.
struct ArchiveEntryInfo {
  const char* name;  // as the archive stores it; never null
  uint64_t size;     // as recorded; a claim, checked against the data read
  bool size_known;   // false for a gzip image, whose length shows only at its end
  uint32_t index;    // counts every header, skipped ones too
};

struct ArchiveReader {
  archive* handle;
  archive_entry* entry;  // the current header, owned by the handle
  ArchiveKind kind;
  ArchiveSource source;
  char* gzip_image_name;  // (malloc)
  // A gzip image's members; libarchive would check no member's trailer.
  GzipMembers gzip;
  uint32_t headers_read;
  bool header_pending;  // the first header, read by the open, not yet handed out
  bool at_end;          // libarchive said there are no more headers
  bool cut_short;       // ... but a RAR's end block is missing: the next header fails
  bool broken;          // libarchive can read no further from this handle
  ArchiveFailure failure;
};

// Both take a reader whose every byte the caller set to zero, and the name
// the archive is known by (a gzip image is named after it). True when the
// archive is open and its first header read; false with nothing left open
// and the reason in `failure`.
// The reader takes `fd` over, and closes it at once on failure.
bool archive_open_descriptor(ArchiveReader& reader, ArchiveKind kind, int fd, uint64_t size, const char* name);
// Reads the block in place: the caller keeps it alive and unchanged until
// the reader is closed.
bool archive_open_memory(ArchiveReader& reader, ArchiveKind kind, const void* block, uint64_t size, const char* name);

enum class ArchiveStep : uint8_t { Entry, End, Failed };

// The next regular file; directories, links (tar hard links among them),
// devices and the like are passed over. Failed when the next header cannot
// be read: nothing more can be read from the handle.
ArchiveStep archive_next_entry(ArchiveReader& reader, ArchiveEntryInfo& info);

// Reads the current entry's next bytes into `buffer`; `size` 0 at its end.
// A gzip image is every member's data, each member matching its own
// trailer (see gzip_members). False on failure, with the reason in
// `failure`; `broken` tells whether the handle can still go on to the next
// entry.
bool archive_read_piece(ArchiveReader& reader, uint8_t* buffer, size_t capacity, size_t& size);

// After the handle broke: opens the archive again from its source and
// passes over the headers up to and including the one with `index`,
// without reading their data where the format allows (a 7z archive does,
// a compressed tar must unpack them). False when that cannot be done.
bool archive_reopen_after(ArchiveReader& reader, uint32_t index);

// Releases everything and closes the descriptor; the reader is then all
// zero. Closing an all-zero reader does nothing.
void archive_close(ArchiveReader& reader);
