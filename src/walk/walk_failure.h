// A path or entry the walk could not catalogue: which message it makes, why,
// and the names in it. Standard error and the JSON listing are written from
// it, above the walk.
#pragma once

#include <cstdint>

#include "archive/archive_failure.h"
#include "base/provenance.h"
#include "zip/zip_failure.h"

// One for each message the walk writes; the texts live with the writer.
enum class WalkMessage : uint8_t {
  ErrorOpening,      // error opening NAME
  SeekError,         // seek error on NAME
  ReadError,         // read error on NAME
  DirectoryLoop,     // directory loop at NAME
  FileStat,          // file stat N of NAME failed
  UncompressFailed,  // uncompress of NAME failed (NAME is archive?entry)
  NestingTooDeep,    // nesting too deep at NAME
  ExpansionLimit,    // expansion limit reached at NAME
};

// Why, as far as the code can tell.
enum class FailureReason : uint8_t {
  Missing,
  Permission,
  NotAnArchive,
  DamagedArchive,
  BadCrc,
  DamagedData,
  Encrypted,
  UnsupportedMethod,
  TooDeep,
  ExpansionLimit,
  Loop,
  NotARegularFile,
  ReadError,
  OutOfMemory,
};

struct WalkFailure {
  WalkMessage message;
  FailureReason reason;
  const char* name;          // the display name, any bytes; set when reported, valid while reported
  uint32_t entry_index;      // FileStat only: the entry's index in the archive
  const Provenance* origin;  // what failed; valid while reported
};

// A failure of what `origin` names; the ring makes its display name when it
// reports it.
inline WalkFailure failure_at(WalkMessage message, FailureReason reason, const Provenance& origin,
                              uint32_t entry_index = 0) {
  return WalkFailure{message, reason, nullptr, entry_index, &origin};
}

// The reason for a failed open or read, from its errno.
FailureReason reason_of_errno(int error);

// The reason for a failure the zip layer explained.
FailureReason reason_of_zip_failure(ZipFailure failure);

// The reason for a failure the libarchive reader explained.
FailureReason reason_of_archive_failure(ArchiveFailure failure);
