// JSON strings: valid UTF-8 as it is (base/utf8 decides), anything else
// replaced and given again in hex.
#include "report/json_text.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/utf8.h"

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

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
    const int length = utf8_sequence_length(p);
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

void append_json_hex(std::string& out, const char* key, uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*" PRIx32, digits, value);
  out += ",\"";
  out += key;
  out += "\":\"";
  out += text;
  out += '"';
}

void append_json_number(std::string& out, const char* key, uint64_t value) {
  out += ",\"";
  out += key;
  out += "\":";
  out += std::to_string(value);
}

void append_json_bool(std::string& out, const char* key, bool value) {
  out += ",\"";
  out += key;
  out += value ? "\":true" : "\":false";
}

void append_json_hex_bytes(std::string& out, const char* key, const uint8_t* bytes, size_t size) {
  out += ",\"";
  out += key;
  out += "\":";
  append_json_hex_value(out, bytes, size);
}

void append_json_hex_value(std::string& out, const uint8_t* bytes, size_t size) {
  out += '"';
  for (size_t k = 0; k < size; ++k) {
    out.push_back(hex_digits[bytes[k] >> 4]);
    out.push_back(hex_digits[bytes[k] & 0xF]);
  }
  out += '"';
}

void write_json_line(std::string& line) {
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stdout);
}
