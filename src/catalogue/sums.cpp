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

namespace {

// One bit into the register, as the checksum is defined.
constexpr uint32_t shift_bit(uint32_t reg, uint32_t data_bit) {
  const uint32_t feedback = data_bit ^ (reg >> 6) ^ (reg >> 8) ^ (reg >> 11) ^ (reg >> 15);
  return ((reg << 1) | (feedback & 1u)) & 0xFFFFu;
}

constexpr uint32_t shift_byte(uint32_t reg, uint32_t byte) {
  for (int bit = 0; bit < 8; ++bit) reg = shift_bit(reg, (byte >> bit) & 1u);
  return reg;
}

// The register is linear in its bits and the data's, so a number of steps
// is the XOR of what they do to the register's low byte, its high byte and
// each data byte, each alone. Eight bytes at a time, the data's part does
// not wait for the register: the chain from one register value to the next
// is two lookups for 64 steps.
constexpr int block_bytes = 8;

struct ShiftTables {
  uint16_t low[256];  // one byte of steps
  uint16_t high[256];
  uint16_t data[256];
  uint16_t block_low[256];  // a block of steps
  uint16_t block_high[256];
  uint16_t block_data[block_bytes][256];  // block_data[k]: byte k of the block
};

// `byte` at position `at` of a block of zeros, after `reg`.
constexpr uint32_t shift_block(uint32_t reg, int at, uint32_t byte) {
  for (int k = 0; k < block_bytes; ++k) reg = shift_byte(reg, k == at ? byte : 0);
  return reg;
}

constexpr ShiftTables make_shift_tables() {
  ShiftTables tables{};
  for (uint32_t k = 0; k < 256; ++k) {
    tables.low[k] = static_cast<uint16_t>(shift_byte(k, 0));
    tables.high[k] = static_cast<uint16_t>(shift_byte(k << 8, 0));
    tables.data[k] = static_cast<uint16_t>(shift_byte(0, k));
    tables.block_low[k] = static_cast<uint16_t>(shift_block(k, -1, 0));
    tables.block_high[k] = static_cast<uint16_t>(shift_block(k << 8, -1, 0));
    for (int at = 0; at < block_bytes; ++at) tables.block_data[at][k] = static_cast<uint16_t>(shift_block(0, at, k));
  }
  return tables;
}

constexpr ShiftTables shift_tables = make_shift_tables();

}  // namespace

uint16_t continue_shift16(uint16_t start, uint64_t size, const uint8_t* bytes) {
  const ShiftTables& t = shift_tables;
  uint32_t reg = start;
  uint64_t i = 0;
  for (; size - i >= block_bytes; i += block_bytes) {
    uint32_t data = 0;
    for (int at = 0; at < block_bytes; ++at) data ^= t.block_data[at][bytes[i + at]];
    reg = t.block_low[reg & 0xFF] ^ t.block_high[reg >> 8] ^ data;
  }
  for (; i < size; ++i) reg = t.low[reg & 0xFF] ^ t.high[reg >> 8] ^ t.data[bytes[i]];
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
