// Blank images packed by the zip methods beyond deflate, streamed from a
// small buffer of zeros, so that a test may pack gigabytes without holding
// them.
#pragma once

#include <cstdint>
#include <string>

struct PackedZeros {
  std::string data;  // the entry's data as zip stores it
  uint16_t flags;    // general purpose flags the method's data needs
  uint32_t crc32;
};

// `size` zero bytes packed by `method` (bzip2, LZMA with its end marker, XZ
// or Zstandard, the zip method numbers).
PackedZeros packed_zeros(uint16_t method, uint64_t size);
