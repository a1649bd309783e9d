// What the rebuild of sets did, set by set in DAT order, and its count:
// lines on standard output (or JSON Lines), and on standard error the sets
// it did not write and why.
#pragma once

#include <cstdint>
#include <string>

enum class RebuildAction : uint8_t { Wrote, Kept, WouldWrite, NotWritten };

enum class NotWrittenReason : uint8_t {
  None,
  ForeignImages,     // the file it would replace holds images the set does not
  SourceChanged,     // a source's bytes differ from what the walk read
  SourceUnreadable,  // no image of a ROM could be read again
  WriteFailed,       // a write, flush, rename or folder call failed (error_number)
  ReadBackFailed,    // what was written does not read back as the ROMs
  BackupFailed,      // the file it would replace could not be moved to the backup folder (error_number)
  UnsafeName,        // the set's or a ROM's name cannot be a file name under the output folder
  ClashingNames,     // two ROMs of the set have one name
  SameFile,          // an earlier set of the DATs has the same file
  OutOfMemory,
};

struct RebuildLine {
  const char* set_name;
  std::string file;    // OUT/SET.zip or OUT/SET, as given
  std::string source;  // SourceChanged, SourceUnreadable: the image's display name
  RebuildAction action;
  NotWrittenReason reason;
  int error_number;
  uint32_t have;
  uint32_t roms;
};

struct RebuildCounts {
  uint64_t written = 0;
  uint64_t kept = 0;
  uint64_t not_written = 0;
};

// The set's line (or object), and its message on standard error when it
// was not written; counts it.
void report_rebuild_line(const RebuildLine& line, bool json, RebuildCounts& counts);

// "rebuild: W written, K kept, N not written", or its object.
void print_rebuild_summary(const RebuildCounts& counts, bool json);

// The output folder cannot be made, opened or cleared of an earlier run's
// temporary files.
void write_rebuild_folder_error(const char* path, int error_number);
