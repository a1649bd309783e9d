// Turning UTF-16 text into UTF-8 piece by piece, for DATs that open with a
// UTF-16 byte order mark. A piece may end anywhere: inside a code unit or
// between the halves of a surrogate pair.
#pragma once

#include <cstddef>
#include <cstdint>

struct Utf16Decoder {
  bool big_endian;
  bool has_odd_byte;  // a piece ended inside a code unit
  uint8_t odd_byte;
  uint16_t high_surrogate;  // 0 when no pair is under way
  uint64_t line;            // 1-based, of the next character
};

// The least room decode_utf16 needs to make progress.
inline constexpr size_t min_utf16_output_size = 4;

// Decodes from `in` up to `in_end` as much as fits into `out` (at least
// min_utf16_output_size bytes), moving `in` past what it took; `made` is
// the number of bytes written. False at a surrogate without its other
// half, at decoder.line.
bool decode_utf16(Utf16Decoder& decoder, const uint8_t*& in, const uint8_t* in_end, uint8_t* out, size_t out_size,
                  size_t& made);
