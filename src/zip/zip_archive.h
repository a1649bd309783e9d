// An open zip archive with its comment, and the two ways to open one.
#pragma once

#include <cstdint>
#include <type_traits>

#include "zip/zip_reader.h"

struct OpenedFile;

inline constexpr int max_kept_comment_size = 511;

struct ZipArchive {
  ZipReader reader;
  uint16_t comment_size;                    // as stored in the end record, never capped
  char comment[max_kept_comment_size + 1];  // first bytes of it, then NUL
};
static_assert(std::is_trivially_copyable_v<ZipArchive> && std::is_standard_layout_v<ZipArchive>,
              "owners clear an archive with ZipArchive{} or memset; all zero is closed");

// Both take an archive whose every byte the caller set to zero. True when the
// archive is open and its comment captured; false with nothing left open.
// An archive must not be moved or copied while it is open.
bool zip_open_file(ZipArchive& archive, const char* path);
// The same for a file the caller opened with open_and_size: the archive
// takes its descriptor over, and closes it at once on failure. *failure
// (when given) says why it failed.
bool zip_open_opened_file(ZipArchive& archive, const OpenedFile& file, ZipFailure* failure = nullptr);
// Reads the block in place: the caller keeps it alive and unchanged until
// the archive is closed.
bool zip_open_memory(ZipArchive& archive, const void* block, uint64_t size, ZipFailure* failure = nullptr);

// Fills comment_size and comment from the end record of an opened reader.
bool read_archive_comment(ZipArchive& archive);

// The offset of the end-of-central-directory record: the last signature,
// searching from the back, with at least 22 bytes from it to the end, within
// the last 69,584 bytes (or the whole of a shorter archive). Reads only
// through zip_read_at.
bool find_end_record(const ZipReader& reader, uint64_t& offset);
