// What the catalogue keeps of an image: its sums, never its bytes.
#pragma once

#include <cstdint>

inline constexpr int sha256_size = 32;

struct ImageSummary {
  uint64_t size;
  uint32_t crc;                 // CRC-32
  uint16_t sum;                 // 16-bit sum of all bytes
  uint16_t mode_sums[4];        // -m1: the segment sums; -m2: [0] is the shift-register checksum
  uint8_t sha256[sha256_size];  // stands for the bytes when images are compared
  // When every image is summed (for the cache): the -m2 checksum of a 2 KiB
  // image in -m2 runs, where mode_sums holds it too; elsewhere mode_sums
  // holds the -m1 segment sums (zero but in -m1 runs).
  // In the padding the other fields leave: no record grows.
  uint16_t shift16;
};
static_assert(sizeof(ImageSummary) == 56, "a record's size is measured in the benchmark");
