// Why the zip layer refused an archive or an entry, as far as it can tell.
#pragma once

#include <cstdint>

enum class ZipFailure : uint8_t {
  None,
  NotARegularFile,    // a named pipe or a device cannot be read as an archive
  NotAnArchive,       // no end record
  DamagedArchive,     // the records contradict themselves or the file
  Encrypted,          // flag bits this reader never unpacks
  UnsupportedMethod,  // a compression method without an unpacker here
  DamagedData,        // the compressed stream is broken, short or too long
  BadCrc,             // unpacked whole, but the CRC-32 differs from the records
  OutOfMemory,        // the block for a nested archive could not be had
};

// Sets *failure when the caller asked for it.
inline void set_zip_failure(ZipFailure* failure, ZipFailure value) {
  if (failure != nullptr) *failure = value;
}
