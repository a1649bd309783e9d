// A deflate64 decoder that streams: compressed pieces in, unpacked pieces out.
//
// Bits are read through a 64-bit buffer, refilled eight bytes at a time
// while the current piece has them and byte by byte across pieces. Once the
// input has ended, refills add zero bytes instead, so a code can be looked
// up without checking for the end first; those zero bits are counted, and
// the stream is truncated as soon as any of them was consumed.
//
// Output builds up in one block after the last 64 KiB already written, so a
// match copies without wrapping around; when enough has built up it goes to
// the sink and the last 64 KiB move to the front.
#include "zip/deflate64.h"

#include <bit>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "zip/huffman_table.h"

namespace {

constexpr size_t window_size = size_t{64} << 10;
constexpr size_t max_match_length = 65538;
constexpr size_t flush_size = size_t{256} << 10;  // output gathered before it goes to the sink
constexpr size_t copy_overrun = 8;                // match copies may write this far past their end
constexpr size_t flush_at = window_size + flush_size;
constexpr size_t output_block_size = flush_at + 1 + max_match_length + copy_overrun;

constexpr unsigned litlen_primary_bits = 10;
constexpr unsigned distance_primary_bits = 8;
constexpr unsigned precode_primary_bits = 7;
// A complete code's subtables fill at most these (see huffman_table.h).
constexpr size_t litlen_capacity = (size_t{1} << litlen_primary_bits) + 2048;
constexpr size_t distance_capacity = (size_t{1} << distance_primary_bits) + 1024;
constexpr size_t precode_capacity = size_t{1} << precode_primary_bits;

constexpr unsigned end_of_block = 256;
constexpr unsigned litlen_symbol_count = 288;  // 286 and 287 appear only in the fixed code
constexpr unsigned max_litlen_codes = 286;
constexpr unsigned distance_symbol_count = 32;
constexpr unsigned precode_symbol_count = 19;

constexpr uint16_t length_base[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 3};
constexpr uint8_t length_extra_bits[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 16};
constexpr uint16_t distance_base[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                        49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                        2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t distance_extra_bits[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                             7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t precode_order[precode_symbol_count] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                         11, 4,  12, 3, 13, 2, 14, 1, 15};

struct BitInput {
  ZipEntryInput* source;
  const uint8_t* next;
  const uint8_t* end;
  uint64_t bits;  // the low bit_count bits are the next input bits
  unsigned bit_count;
  unsigned zero_bits;  // added after the input ended; always the top ones
  bool source_ended;
};

struct Deflate64State {
  HuffmanEntry litlen[litlen_capacity];
  HuffmanEntry distance[distance_capacity];
  HuffmanEntry precode[precode_capacity];
  uint8_t out[output_block_size];
  size_t out_size;    // bytes in `out`: the kept window, then new output
  size_t out_handed;  // bytes of `out` already given to the sink
  BitInput in;
  const ZipOutput* output;
};

bool is_past_input_end(const BitInput& in) {
  return in.bit_count < in.zero_bits;
}

bool refill_slowly(BitInput& in) {
  if (is_past_input_end(in)) return false;
  in.bits &= (uint64_t{1} << in.bit_count) - 1;
  while (in.bit_count <= 56) {
    if (in.next != in.end) {
      in.bits |= uint64_t{*in.next++} << in.bit_count;
      in.bit_count += 8;
    } else if (in.source_ended) {
      in.bit_count += 8;
      in.zero_bits += 8;
    } else {
      size_t size = 0;
      if (!zip_next_input(*in.source, in.next, size)) return false;
      in.end = in.next + size;
      in.source_ended = size == 0;
    }
  }
  return true;
}

// Leaves at least 56 bits in the buffer.
inline bool refill(BitInput& in) {
  if (in.end - in.next < 8) return refill_slowly(in);
  uint64_t word;
  std::memcpy(&word, in.next, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  in.bits |= word << in.bit_count;
  in.next += (63 - in.bit_count) >> 3;
  in.bit_count |= 56;
  return true;
}

inline unsigned take_bits(BitInput& in, unsigned count) {
  const unsigned value = static_cast<unsigned>(in.bits & ((uint64_t{1} << count) - 1));
  in.bits >>= count;
  in.bit_count -= count;
  return value;
}

// A symbol of the table's code, or huffman_invalid_symbol; needs 15 bits.
inline unsigned decode_symbol(BitInput& in, const HuffmanEntry* table, unsigned primary_bits) {
  HuffmanEntry entry = table[in.bits & ((uint64_t{1} << primary_bits) - 1)];
  if (entry.sub_bits != 0) {
    take_bits(in, entry.length);
    entry = table[entry.value + (in.bits & ((uint64_t{1} << entry.sub_bits) - 1))];
  }
  take_bits(in, entry.length);
  return entry.value;
}

// Hands the new output to the sink and keeps the last window_size bytes.
bool flush_output(Deflate64State& state) {
  if (!zip_write_output(*state.output, state.out + state.out_handed, state.out_size - state.out_handed)) return false;
  const size_t kept = state.out_size < window_size ? state.out_size : window_size;
  std::memmove(state.out, state.out + state.out_size - kept, kept);
  state.out_size = kept;
  state.out_handed = kept;
  return true;
}

void copy_match(uint8_t* out, size_t distance, size_t length) {
  const uint8_t* from = out - distance;
  if (distance >= copy_overrun) {
    for (size_t i = 0; i < length; i += copy_overrun) std::memcpy(out + i, from + i, copy_overrun);
  } else if (distance == 1) {
    std::memset(out, *from, length);
  } else {
    for (size_t i = 0; i < length; ++i) out[i] = from[i];
  }
}

bool decode_compressed_block(Deflate64State& state) {
  BitInput& in = state.in;
  for (;;) {
    if (state.out_size >= flush_at && !flush_output(state)) return false;
    if (!refill(in)) return false;
    unsigned symbol = decode_symbol(in, state.litlen, litlen_primary_bits);
    if (symbol < end_of_block) {
      // A refill leaves bits for two codes and a length's extra bits.
      state.out[state.out_size++] = static_cast<uint8_t>(symbol);
      symbol = decode_symbol(in, state.litlen, litlen_primary_bits);
      if (symbol < end_of_block) {
        state.out[state.out_size++] = static_cast<uint8_t>(symbol);
        continue;
      }
    }
    if (symbol == end_of_block) return true;
    symbol -= end_of_block + 1;
    if (symbol >= std::size(length_base)) return false;  // 286, 287 or invalid bits
    const size_t length = length_base[symbol] + take_bits(in, length_extra_bits[symbol]);
    if (!refill(in)) return false;
    symbol = decode_symbol(in, state.distance, distance_primary_bits);
    if (symbol >= distance_symbol_count) return false;
    const size_t distance = distance_base[symbol] + take_bits(in, distance_extra_bits[symbol]);
    if (distance > state.out_size) return false;  // before the start of the output
    copy_match(state.out + state.out_size, distance, length);
    state.out_size += length;
  }
}

bool copy_stored_bytes(Deflate64State& state, size_t length) {
  BitInput& in = state.in;
  while (length > 0) {
    if (state.out_size >= flush_at && !flush_output(state)) return false;
    if (in.bit_count >= in.zero_bits + 8) {  // whole bytes still in the bit buffer
      state.out[state.out_size++] = static_cast<uint8_t>(take_bits(in, 8));
      --length;
      continue;
    }
    if (in.zero_bits != 0) return false;  // the input ended
    in.bits = 0;                          // drained: read the bytes in place
    if (in.next == in.end) {
      size_t size = 0;
      if (!zip_next_input(*in.source, in.next, size) || size == 0) return false;
      in.end = in.next + size;
    }
    size_t count = static_cast<size_t>(in.end - in.next);
    if (count > length) count = length;
    if (count > output_block_size - state.out_size) count = output_block_size - state.out_size;
    std::memcpy(state.out + state.out_size, in.next, count);
    in.next += count;
    state.out_size += count;
    length -= count;
  }
  return true;
}

bool decode_stored_block(Deflate64State& state) {
  BitInput& in = state.in;
  take_bits(in, in.bit_count & 7);  // to the next byte boundary
  if (!refill(in)) return false;
  const unsigned length = take_bits(in, 16);
  const unsigned length_complement = take_bits(in, 16);
  if ((length ^ length_complement) != 0xFFFF) return false;
  return copy_stored_bytes(state, length);
}

bool build_fixed_tables(Deflate64State& state) {
  uint8_t lengths[litlen_symbol_count];
  std::memset(lengths, 8, 144);
  std::memset(lengths + 144, 9, 256 - 144);
  std::memset(lengths + 256, 7, 280 - 256);
  std::memset(lengths + 280, 8, litlen_symbol_count - 280);
  if (!build_huffman_table(lengths, litlen_symbol_count, litlen_primary_bits, state.litlen, litlen_capacity)) {
    return false;
  }
  std::memset(lengths, 5, distance_symbol_count);
  return build_huffman_table(lengths, distance_symbol_count, distance_primary_bits, state.distance, distance_capacity);
}

// The literal/length and distance code lengths, sent with the precode's
// run-length symbols: 16 repeats the last length, 17 and 18 give zeros.
bool read_code_lengths(Deflate64State& state, uint8_t* lengths, unsigned total) {
  BitInput& in = state.in;
  unsigned count = 0;
  while (count < total) {
    if (!refill(in)) return false;
    const unsigned symbol = decode_symbol(in, state.precode, precode_primary_bits);
    if (symbol < 16) {
      lengths[count++] = static_cast<uint8_t>(symbol);
      continue;
    }
    unsigned repeat = 0;
    uint8_t value = 0;
    if (symbol == 16) {
      if (count == 0) return false;
      value = lengths[count - 1];
      repeat = 3 + take_bits(in, 2);
    } else if (symbol == 17) {
      repeat = 3 + take_bits(in, 3);
    } else if (symbol == 18) {
      repeat = 11 + take_bits(in, 7);
    } else {
      return false;
    }
    if (repeat > total - count) return false;
    std::memset(lengths + count, value, repeat);
    count += repeat;
  }
  return true;
}

bool build_dynamic_tables(Deflate64State& state) {
  BitInput& in = state.in;
  if (!refill(in)) return false;
  const unsigned litlen_count = 257 + take_bits(in, 5);
  const unsigned distance_count = 1 + take_bits(in, 5);
  const unsigned precode_count = 4 + take_bits(in, 4);
  if (litlen_count > max_litlen_codes) return false;
  uint8_t precode_lengths[precode_symbol_count] = {};
  for (unsigned i = 0; i < precode_count; ++i) {
    if (!refill(in)) return false;
    precode_lengths[precode_order[i]] = static_cast<uint8_t>(take_bits(in, 3));
  }
  if (!build_huffman_table(precode_lengths, precode_symbol_count, precode_primary_bits, state.precode,
                           precode_capacity)) {
    return false;
  }
  uint8_t lengths[max_litlen_codes + distance_symbol_count];
  if (!read_code_lengths(state, lengths, litlen_count + distance_count)) return false;
  if (lengths[end_of_block] == 0) return false;  // a block that could never end
  return build_huffman_table(lengths, litlen_count, litlen_primary_bits, state.litlen, litlen_capacity) &&
         build_huffman_table(lengths + litlen_count, distance_count, distance_primary_bits, state.distance,
                             distance_capacity);
}

bool decode_blocks(Deflate64State& state) {
  BitInput& in = state.in;
  for (;;) {
    if (!refill(in)) return false;
    const bool is_final = take_bits(in, 1) != 0;
    const unsigned block_type = take_bits(in, 2);
    bool decoded = false;
    if (block_type == 0) {
      decoded = decode_stored_block(state);
    } else if (block_type == 1) {
      decoded = build_fixed_tables(state) && decode_compressed_block(state);
    } else if (block_type == 2) {
      decoded = build_dynamic_tables(state) && decode_compressed_block(state);
    }
    if (!decoded) return false;
    if (is_final) return !is_past_input_end(in);
  }
}

}  // namespace

bool deflate64_unpack(ZipEntryInput& input, const ZipOutput& output) {
  const std::unique_ptr<Deflate64State> state(new (std::nothrow) Deflate64State);
  if (!state) return false;
  state->out_size = 0;
  state->out_handed = 0;
  state->in = BitInput{&input, nullptr, nullptr, 0, 0, 0, false};
  state->output = &output;
  return decode_blocks(*state) && flush_output(*state);
}
