// Building two-level decode tables from code lengths.
#include "zip/huffman_table.h"

namespace {

constexpr unsigned max_symbols = 320;
constexpr unsigned max_primary_bits = 10;
constexpr HuffmanEntry invalid_entry{huffman_invalid_symbol, 0, 0};

unsigned reverse_bits(unsigned code, unsigned length) {
  unsigned reversed = 0;
  for (unsigned i = 0; i < length; ++i) {
    reversed = (reversed << 1) | (code & 1);
    code >>= 1;
  }
  return reversed;
}

// False when the lengths over-subscribe the code space or leave part of it
// unused in a way deflate does not allow.
bool is_usable_code(const unsigned (&count)[huffman_max_code_length + 1]) {
  int left = 1;  // code space not yet taken, in units of the current length
  unsigned used = 0;
  for (unsigned length = 1; length <= huffman_max_code_length; ++length) {
    left = left * 2 - static_cast<int>(count[length]);
    if (left < 0) return false;
    used += count[length];
  }
  return left == 0 || used == 0 || (used == 1 && count[1] == 1);
}

}  // namespace

bool build_huffman_table(const uint8_t* lengths, unsigned symbol_count, unsigned primary_bits, HuffmanEntry* entries,
                         size_t capacity) {
  const size_t primary_size = size_t{1} << primary_bits;
  if (symbol_count > max_symbols || primary_bits > max_primary_bits) return false;
  // Subtable links hold their index in 16 bits, beside the invalid symbol.
  if (capacity < primary_size || capacity >= huffman_invalid_symbol) return false;
  unsigned count[huffman_max_code_length + 1] = {};
  for (unsigned symbol = 0; symbol < symbol_count; ++symbol) {
    if (lengths[symbol] > huffman_max_code_length) return false;
    ++count[lengths[symbol]];
  }
  count[0] = 0;
  if (!is_usable_code(count)) return false;

  // Canonical codes, first of each length, then each symbol's, reversed
  // because deflate sends codes from their top bit into the lowest bit.
  unsigned next_code[huffman_max_code_length + 1] = {};
  for (unsigned length = 1, code = 0; length <= huffman_max_code_length; ++length) {
    code = (code + count[length - 1]) << 1;
    next_code[length] = code;
  }
  uint16_t codes[max_symbols];
  uint8_t sub_bits[size_t{1} << max_primary_bits] = {};
  const unsigned primary_mask = static_cast<unsigned>(primary_size - 1);
  for (unsigned symbol = 0; symbol < symbol_count; ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) continue;
    codes[symbol] = static_cast<uint16_t>(reverse_bits(next_code[length]++, length));
    if (length <= primary_bits) continue;
    uint8_t& needed = sub_bits[codes[symbol] & primary_mask];
    if (length - primary_bits > needed) needed = static_cast<uint8_t>(length - primary_bits);
  }

  for (size_t i = 0; i < primary_size; ++i) entries[i] = invalid_entry;
  size_t next_subtable = primary_size;
  for (size_t prefix = 0; prefix < primary_size; ++prefix) {
    if (sub_bits[prefix] == 0) continue;
    const size_t subtable_size = size_t{1} << sub_bits[prefix];
    if (capacity - next_subtable < subtable_size) return false;
    entries[prefix] =
        HuffmanEntry{static_cast<uint16_t>(next_subtable), static_cast<uint8_t>(primary_bits), sub_bits[prefix]};
    for (size_t i = 0; i < subtable_size; ++i) entries[next_subtable + i] = invalid_entry;
    next_subtable += subtable_size;
  }

  for (unsigned symbol = 0; symbol < symbol_count; ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) continue;
    const unsigned code = codes[symbol];
    if (length <= primary_bits) {
      for (size_t i = code; i < primary_size; i += size_t{1} << length) {
        entries[i] = HuffmanEntry{static_cast<uint16_t>(symbol), static_cast<uint8_t>(length), 0};
      }
      continue;
    }
    const HuffmanEntry link = entries[code & primary_mask];
    const unsigned rest_length = length - primary_bits;
    const size_t subtable_size = size_t{1} << link.sub_bits;
    for (size_t i = code >> primary_bits; i < subtable_size; i += size_t{1} << rest_length) {
      entries[link.value + i] = HuffmanEntry{static_cast<uint16_t>(symbol), static_cast<uint8_t>(rest_length), 0};
    }
  }
  return true;
}
