// UTF-16 code units to UTF-8, checked: a high surrogate must be followed by
// a low one, and a low one must follow a high one.
#include "dat/utf16_decoder.h"

namespace {

constexpr uint16_t first_high_surrogate = 0xD800;
constexpr uint16_t first_low_surrogate = 0xDC00;
constexpr uint16_t last_low_surrogate = 0xDFFF;

size_t encode_utf8(uint32_t code_point, uint8_t* out) {
  if (code_point < 0x80) {
    out[0] = static_cast<uint8_t>(code_point);
    return 1;
  }
  if (code_point < 0x800) {
    out[0] = static_cast<uint8_t>(0xC0 | code_point >> 6);
    out[1] = static_cast<uint8_t>(0x80 | (code_point & 0x3F));
    return 2;
  }
  if (code_point < 0x10000) {
    out[0] = static_cast<uint8_t>(0xE0 | code_point >> 12);
    out[1] = static_cast<uint8_t>(0x80 | (code_point >> 6 & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (code_point & 0x3F));
    return 3;
  }
  out[0] = static_cast<uint8_t>(0xF0 | code_point >> 18);
  out[1] = static_cast<uint8_t>(0x80 | (code_point >> 12 & 0x3F));
  out[2] = static_cast<uint8_t>(0x80 | (code_point >> 6 & 0x3F));
  out[3] = static_cast<uint8_t>(0x80 | (code_point & 0x3F));
  return 4;
}

// Writes the character a code unit completes, if any; false for a lone
// surrogate.
bool take_unit(Utf16Decoder& decoder, uint16_t unit, uint8_t* out, size_t& made) {
  const bool is_high = unit >= first_high_surrogate && unit < first_low_surrogate;
  const bool is_low = unit >= first_low_surrogate && unit <= last_low_surrogate;
  uint32_t code_point = unit;
  if (decoder.high_surrogate != 0) {
    if (!is_low) return false;
    code_point = 0x10000 + (uint32_t{decoder.high_surrogate} - first_high_surrogate) * 0x400 +
                 (uint32_t{unit} - first_low_surrogate);
    decoder.high_surrogate = 0;
  } else if (is_high) {
    decoder.high_surrogate = unit;
    return true;
  } else if (is_low) {
    return false;
  }
  if (code_point == '\n') ++decoder.line;
  made += encode_utf8(code_point, out + made);
  return true;
}

}  // namespace

bool decode_utf16(Utf16Decoder& decoder, const uint8_t*& in, const uint8_t* in_end, uint8_t* out, size_t out_size,
                  size_t& made) {
  made = 0;
  while (in != in_end && out_size - made >= min_utf16_output_size) {
    if (!decoder.has_odd_byte) {
      decoder.odd_byte = *in++;
      decoder.has_odd_byte = true;
      continue;
    }
    const uint8_t second = *in++;
    decoder.has_odd_byte = false;
    const uint8_t high = decoder.big_endian ? decoder.odd_byte : second;
    const uint8_t low = decoder.big_endian ? second : decoder.odd_byte;
    if (!take_unit(decoder, static_cast<uint16_t>(high << 8 | low), out, made)) return false;
  }
  return true;
}
