// The 16-bit checksums of an image, taken piece by piece as its bytes pass,
// and the extra listing columns that -m1 and -m2 print with them.
#pragma once

#include <cstddef>
#include <cstdint>

// Sum of all bytes modulo 65,536.
uint16_t sum16(uint64_t size, const uint8_t* bytes);
// The same running on: the sum of earlier pieces in, of all of them out
// (only the low 16 bits count).
uint32_t add_to_sum(uint32_t total, uint64_t size, const uint8_t* bytes);

// 16-bit shift register fed least significant bit first, taps 6, 8, 11, 15.
uint16_t shift16(uint64_t size, const uint8_t* bytes);
uint16_t continue_shift16(uint16_t reg, uint64_t size, const uint8_t* bytes);

// Adds the piece at `offset` of an image of `image_size` bytes to the sums
// of the -m1 segments it overlaps; nothing for a size without segments.
void add_to_segment_sums(uint64_t image_size, uint64_t offset, const uint8_t* bytes, size_t size, uint32_t totals[4]);

// Writes the -m1 segment sums or the -m2 shift checksum kept in mode_sums
// to standard output; nothing in mode All or for an -m1 size without
// segments.
void print_mode_sums(uint64_t size, const uint16_t mode_sums[4]);

// Whether -m1 shows segment `column` (0 to 3) of an image of `size` bytes.
bool shows_segment(uint64_t size, int column);
