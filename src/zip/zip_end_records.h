// Finding the central directory from the end record and, when present, the
// zip64 locator and end record.
#pragma once

#include <cstdint>

#include "zip/zip_reader.h"

struct ZipDirectoryPlace {
  uint64_t offset;
  uint64_t size;
  uint32_t entry_count;
  uint64_t end_records_offset;  // the zip64 end record's, or the end record's
  uint64_t end_record_offset;
};

// False unless the end records are sound: one disk, a consistent zip64
// locator and record when the locator is there, an entry count that fits,
// and a central directory inside the archive, before the end records, with
// room for 46 bytes per announced entry.
bool locate_central_directory(const ZipReader& reader, ZipDirectoryPlace& place);
