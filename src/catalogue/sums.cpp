// The 16-bit additive sum, the -m1 segment layouts and the 16-bit
// shift-register checksum.
#include "catalogue/sums.h"

namespace {

// A block of fixed length has no remainder for the vectoriser to handle, so
// the inner loop vectorises also at -O2. A 32-bit block total cannot
// overflow: 4096 bytes of at most 255 stay below 2^20.
constexpr size_t sum_block_size = 4096;

uint32_t sum_block(const uint8_t* bytes) {
  uint32_t total = 0;
  for (size_t i = 0; i < sum_block_size; ++i) total += bytes[i];
  return total;
}

// A size of 0 ends a row.
constexpr SegmentLayout m1_layouts[] = {
    {0x3000, {{0x0000, 0x1000}, {0x1000, 0x1000}, {0x2000, 0x1000}, {0, 0}}},
    {0x3800, {{0x0000, 0x2000}, {0x2000, 0x1000}, {0x3000, 0x0800}, {0, 0}}},
    {0x4000, {{0x0000, 0x2000}, {0x2000, 0x1000}, {0x3000, 0x0800}, {0x3800, 0x0800}}},
};

}  // namespace

const SegmentLayout* m1_layout_of(uint64_t image_size) {
  for (const SegmentLayout& layout : m1_layouts) {
    if (layout.image_size == image_size) return &layout;
  }
  return nullptr;
}

uint32_t add_to_sum(uint32_t total, uint64_t size, const uint8_t* bytes) {
  // Wraps freely: only the low 16 bits are kept.
  uint64_t done = 0;
  for (; size - done >= sum_block_size; done += sum_block_size) total += sum_block(bytes + done);
  for (; done < size; ++done) total += bytes[done];
  return total;
}

uint16_t sum16(uint64_t size, const uint8_t* bytes) {
  return static_cast<uint16_t>(add_to_sum(0, size, bytes));
}

uint16_t continue_shift16(uint16_t start, uint64_t size, const uint8_t* bytes) {
  uint32_t reg = start;
  for (uint64_t i = 0; i < size; ++i) {
    for (int bit = 0; bit < 8; ++bit) {
      const uint32_t data_bit = (bytes[i] >> bit) & 1u;
      const uint32_t feedback = data_bit ^ (reg >> 6) ^ (reg >> 8) ^ (reg >> 11) ^ (reg >> 15);
      reg = ((reg << 1) | (feedback & 1u)) & 0xFFFFu;
    }
  }
  return static_cast<uint16_t>(reg);
}

uint16_t shift16(uint64_t size, const uint8_t* bytes) {
  return continue_shift16(0, size, bytes);
}

void add_to_segment_sums(uint64_t image_size, uint64_t offset, const uint8_t* bytes, size_t size,
                         uint32_t totals[max_segments]) {
  const SegmentLayout* layout = m1_layout_of(image_size);
  if (layout == nullptr) return;
  const uint64_t end = offset + size;
  for (int k = 0; k < max_segments; ++k) {
    const Segment& segment = layout->segments[k];
    const uint64_t first = segment.offset > offset ? segment.offset : offset;
    const uint64_t last = segment.offset + segment.size < end ? segment.offset + segment.size : end;
    if (first < last) totals[k] = add_to_sum(totals[k], last - first, bytes + (first - offset));
  }
}

bool shows_segment(uint64_t size, int column) {
  const SegmentLayout* layout = m1_layout_of(size);
  return layout != nullptr && layout->segments[column].size != 0;
}
