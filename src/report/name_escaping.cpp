// Writing names with some bytes as %XX.
#include "report/name_escaping.h"

#include <cstdio>

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

void append_escaped_name(std::string& out, const char* name, EscapedBytes escaped) {
  static constexpr char hex_digits[] = "0123456789ABCDEF";
  for (const char* pos = name; *pos != '\0'; ++pos) {
    const auto byte = static_cast<unsigned char>(*pos);
    if (!is_escaped(byte, escaped)) {
      out.push_back(*pos);
      continue;
    }
    const char escape[3] = {'%', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
    out.append(escape, sizeof escape);
  }
}
