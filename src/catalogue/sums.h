// The 16-bit checksums of an image, taken piece by piece as its bytes pass:
// the additive sum, the -m1 segment sums and the -m2 shift-register checksum.
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
uint16_t continue_shift16(uint16_t start, uint64_t size, const uint8_t* bytes);

// The one size -m2 admits.
inline constexpr uint64_t m2_image_size = 0x800;

inline constexpr int max_segments = 4;

struct Segment {
  uint64_t offset;
  uint64_t size;  // 0: no such segment in this layout
};

// How -m1 cuts an image of one admitted size into the segments it sums.
struct SegmentLayout {
  uint64_t image_size;
  Segment segments[max_segments];
};

// The -m1 layout of an image of `image_size` bytes; null for a size that
// -m1 does not admit. The layouts are the -m1 size table.
const SegmentLayout* m1_layout_of(uint64_t image_size);

// Adds the piece at `offset` of an image of `image_size` bytes to the sums
// of the -m1 segments it overlaps; nothing for a size without segments.
void add_to_segment_sums(uint64_t image_size, uint64_t offset, const uint8_t* bytes, size_t size,
                         uint32_t totals[max_segments]);

// Whether -m1 shows segment `column` (0 to 3) of an image of `size` bytes.
bool shows_segment(uint64_t size, int column);
