// Decode tables for the canonical Huffman codes of deflate64, read least
// significant bit first.
//
// A table is indexed by the next `primary_bits` input bits. An entry gives a
// symbol and its code length, or, for longer codes, points at a subtable
// indexed by the bits after the primary ones. Bits that start no code give
// huffman_invalid_symbol.
#pragma once

#include <cstddef>
#include <cstdint>

struct HuffmanEntry {
  uint16_t value;    // the symbol, or a subtable's first index when sub_bits > 0
  uint8_t length;    // bits to consume: the code's (in a subtable, beyond the primary bits)
  uint8_t sub_bits;  // the subtable's index width; 0 for a symbol
};

inline constexpr uint16_t huffman_invalid_symbol = 0xFFFF;
inline constexpr unsigned huffman_max_code_length = 15;

// Fills `entries` (`capacity` of them) for the code given by `lengths` (one
// per symbol, 0 for unused, at most 15; at most 320 symbols) with
// `primary_bits` of at most 10. False for an over-subscribed code,
// for an incomplete one (except no codes at all, or a single code of length
// 1, which deflate allows), and when the subtables would not fit.
bool build_huffman_table(const uint8_t* lengths, unsigned symbol_count, unsigned primary_bits, HuffmanEntry* entries,
                         size_t capacity);
