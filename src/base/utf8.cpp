// UTF-8 sequence lengths.
#include "base/utf8.h"

int utf8_sequence_length(const unsigned char* p, size_t available) {
  if (available == 0) return 0;
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
  if (available < static_cast<size_t>(length)) return 0;
  if (p[1] < low || p[1] > high) return 0;  // also the NUL at the end
  for (int k = 2; k < length; ++k) {
    if (p[k] < 0x80 || p[k] > 0xBF) return 0;
  }
  return length;
}
