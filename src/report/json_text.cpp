// UTF-8 checked byte by byte: overlong forms, surrogates and code points past
// U+10FFFF are invalid, as are cut sequences.
#include "report/json_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// The length of the valid UTF-8 sequence at `p` (1 to 4), or 0.
int valid_sequence_length(const unsigned char* p) {
  const unsigned char lead = p[0];
  if (lead < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  if (p[1] < low || p[1] > high) return 0;  // also the NUL at the end
  for (int k = 2; k < length; ++k) {
    if (p[k] < 0x80 || p[k] > 0xBF) return 0;
  }
  return length;
}

void append_escaped_byte(std::string& out, unsigned char byte) {
  switch (byte) {
    case '"':
      out += "\\\"";
      return;
    case '\\':
      out += "\\\\";
      return;
    default:
      break;
  }
  if (byte < 0x20) {
    const char escape[6] = {'\\', 'u', '0', '0', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
    out.append(escape, sizeof escape);
    return;
  }
  out.push_back(static_cast<char>(byte));
}

}  // namespace

bool append_json_string(std::string& out, const char* text) {
  bool valid = true;
  out.push_back('"');
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != '\0') {
    const int length = valid_sequence_length(p);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      valid = false;
      ++p;
    } else if (length == 1) {
      append_escaped_byte(out, *p++);
    } else {
      out.append(reinterpret_cast<const char*>(p), static_cast<size_t>(length));
      p += length;
    }
  }
  out.push_back('"');
  return valid;
}

void append_json_name(std::string& out, const char* key, const char* text) {
  out += '"';
  out += key;
  out += "\":";
  if (append_json_string(out, text)) return;
  out += ",\"";
  out += key;
  out += "_hex\":\"";
  for (const auto* p = reinterpret_cast<const unsigned char*>(text); *p != '\0'; ++p) {
    out.push_back(hex_digits[*p >> 4]);
    out.push_back(hex_digits[*p & 0xF]);
  }
  out += '"';
}
