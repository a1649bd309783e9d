// Writing names with some bytes as %XX.
#include "report/name_escaping.h"

#include <cstdio>

#include "base/utf8.h"

namespace {

bool is_escaped(unsigned char byte, EscapedBytes escaped) {
  if (byte < 0x20 || byte == 0x7F) return true;
  return byte >= 0x80 && escaped == EscapedBytes::ControlsAndHigh;
}

}  // namespace

void print_escaped_name(const char* name, EscapedBytes escaped) {
  static std::string text;  // reused: the listing writes a name per line
  text.clear();
  append_escaped_name(text, name, escaped);
  std::fwrite(text.data(), 1, text.size(), stdout);
}

namespace {

void append_escape(std::string& out, unsigned char byte) {
  static constexpr char hex_digits[] = "0123456789ABCDEF";
  const char escape[3] = {'%', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
  out.append(escape, sizeof escape);
}

// A valid sequence goes out whole, unless it is a C1 control; any other
// high byte is escaped alone, and the next byte is looked at afresh.
void append_utf8_checked(std::string& out, const char* name) {
  for (const char* pos = name; *pos != '\0';) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(pos);
    const int length = bytes[0] < 0x80 ? 1 : utf8_sequence_length(bytes);
    const bool c1_control = length == 2 && bytes[0] == 0xC2 && bytes[1] < 0xA0;
    if (length == 0 || c1_control || is_escaped(bytes[0], EscapedBytes::Controls)) {
      for (int k = 0; k < (c1_control ? 2 : 1); ++k) append_escape(out, bytes[k]);
      pos += c1_control ? 2 : 1;
      continue;
    }
    out.append(pos, static_cast<size_t>(length));
    pos += length;
  }
}

}  // namespace

void append_escaped_name(std::string& out, const char* name, EscapedBytes escaped) {
  if (escaped == EscapedBytes::ControlsAndInvalidUtf8) {
    append_utf8_checked(out, name);
    return;
  }
  for (const char* pos = name; *pos != '\0'; ++pos) {
    const auto byte = static_cast<unsigned char>(*pos);
    if (is_escaped(byte, escaped)) {
      append_escape(out, byte);
    } else {
      out.push_back(*pos);
    }
  }
}
