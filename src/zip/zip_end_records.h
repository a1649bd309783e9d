// Finding the central directory from the end record and, when present, the
// zip64 locator and end record.
#pragma once

#include <cstdint>

#include "zip/zip_reader.h"

struct ZipDirectoryPlace {
  uint64_t offset;  // where the directory is, which may differ from where it is recorded
  uint64_t size;
  int64_t offset_shift;      // added to every recorded offset to give the true one
  uint64_t entries_on_disk;  // the two counts as the end records state them
  uint64_t entries;
  bool counts_are_16_bit;       // from the end record rather than the zip64 end record
  uint64_t end_records_offset;  // the zip64 end record's, or the end record's
  uint64_t end_record_offset;
};

// False unless the end records are sound: one disk, a consistent zip64
// locator and record when the locator is there, and a central directory
// inside the archive, before the end records, with room for 46 bytes per
// entry of the total or of the entries on this disk. Whether a count agrees
// with the records is for the walk of the directory to tell
// (directory_counts_agree).
bool locate_central_directory(const ZipReader& reader, ZipDirectoryPlace& place);

// True when the end records' total entry count or their count of entries on
// this disk agrees with the number of central records found by walking the
// directory: equal, or wrapped by a writer that counts in 16 bits. The other
// count may then be anything.
bool directory_counts_agree(const ZipDirectoryPlace& place, uint64_t walked);
