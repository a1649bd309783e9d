// A ROM as the rebuild writes it: its name in the set, what its bytes must
// be, and where they come from; and why writing a set failed.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr int rebuild_sha1_size = 20;

// Takes a ROM's bytes piece by piece; false stops the pouring.
struct RomSink {
  void* context;
  bool (*take)(void* context, const uint8_t* bytes, size_t size);
};

// Pours a ROM's bytes, from the first, into `sink`; false when the source
// cannot be read or the sink stopped. A writer may pour one ROM more than
// once (each time from the start), so the source must be able to.
struct RomSource {
  void* context;
  bool (*pour)(void* context, const RomSink& sink);
};

struct RebuildRom {
  const char* name;  // in the set, `/` between folders; NUL-terminated, the caller's
  uint64_t size;
  uint32_t crc;
  bool has_sha1;  // the DAT gave a SHA-1: the written bytes are checked against it too
  uint8_t sha1[rebuild_sha1_size];
  RomSource source;
};

enum class RebuildFailure : uint8_t {
  None,
  SourceUnreadable,  // the source's pour failed
  SourceChanged,     // its bytes' length or CRC-32 differ from the ROM's: it changed since it was read
  WriteFailed,       // a create, write, flush, rename or folder call failed: errno in error_number
  ReadBackFailed,    // the file written does not read back as the ROMs (a failing disk)
  OutOfMemory,
  UnsafeName,     // a name that is empty, would leave its folder, or holds `\`
  ClashingNames,  // two ROMs of one name
};

struct RebuildError {
  RebuildFailure failure;
  int error_number;  // WriteFailed: the errno
  uint32_t rom;      // the caller's index of the ROM it concerns, when it concerns one
};

inline bool fail_rebuild(RebuildError& error, RebuildFailure failure, int error_number = 0, uint32_t rom = 0) {
  error = RebuildError{failure, error_number, rom};
  return false;
}
