// Writing names with some bytes as %XX.
#include "catalogue/name_escaping.h"

#include <cstdio>

namespace {

bool is_escaped(unsigned char byte, EscapedBytes escaped) {
  if (byte < 0x20 || byte == 0x7F) return true;
  return byte >= 0x80 && escaped == EscapedBytes::ControlsAndHigh;
}

}  // namespace

void print_escaped_name(const char* name, EscapedBytes escaped) {
  static constexpr char hex_digits[] = "0123456789ABCDEF";
  const char* pos = name;
  while (*pos != '\0') {
    const char* plain_end = pos;
    while (*plain_end != '\0' && !is_escaped(static_cast<unsigned char>(*plain_end), escaped)) ++plain_end;
    std::fwrite(pos, 1, static_cast<size_t>(plain_end - pos), stdout);
    pos = plain_end;
    if (*pos == '\0') return;
    const auto byte = static_cast<unsigned char>(*pos++);
    const char escape[3] = {'%', hex_digits[byte >> 4], hex_digits[byte & 0xF]};
    std::fwrite(escape, 1, sizeof escape, stdout);
  }
}
