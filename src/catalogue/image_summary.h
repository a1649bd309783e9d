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
};
