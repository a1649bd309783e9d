// Why the libarchive reader refused an archive or an entry, as far as it
// can tell.
#pragma once

#include <cstdint>

enum class ArchiveFailure : uint8_t {
  None,
  NotAnArchive,    // not of the format or compression its name says
  DamagedArchive,  // a header cannot be read
  DamagedData,     // the data are broken, short, too long, or fail their check
  Encrypted,
  Unsupported,  // a method or feature libarchive does not read
  OutOfMemory,
};
