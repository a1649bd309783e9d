// The two 16-bit checksums of an image and the mode's extra listing columns.
#pragma once

#include <cstdint>

// Sum of all bytes modulo 65,536.
uint16_t sum16(uint64_t size, const uint8_t* bytes);

// 16-bit shift register fed least significant bit first, taps 6, 8, 11, 15.
uint16_t shift16(uint64_t size, const uint8_t* bytes);

// Writes the -m1 segment sums or the -m2 shift checksum to standard output;
// nothing in mode All or for an -m1 size without a segment layout.
void print_mode_sums(uint64_t size, const uint8_t* bytes);
