// A CHD header starts with "MComprHD", then its length and version as
// big-endian 32-bit numbers. Each version keeps the SHA-1 of the whole disk
// (data and metadata) at its own offset: 80 in version 3, 48 in version 4,
// 84 in version 5, whose SHA-1 at 64 covers the raw data alone and is not
// the one DATs give. Versions 1 and 2 give only an MD5.
#include "catalogue/chd_header.h"

#include <cstring>

namespace {

constexpr char chd_magic[] = "MComprHD";
constexpr size_t chd_magic_size = sizeof chd_magic - 1;

struct ChdVersion {
  uint32_t version;
  uint32_t header_size;
  size_t sha1_offset;
};

constexpr ChdVersion chd_versions[] = {{3, 120, 80}, {4, 108, 48}, {5, 124, 84}};

uint32_t read_u32_be(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

}  // namespace

bool read_chd_sha1(const uint8_t* bytes, size_t size, uint8_t* sha1) {
  constexpr size_t fixed_size = chd_magic_size + 8;  // the magic, the length and the version
  if (size < fixed_size || std::memcmp(bytes, chd_magic, chd_magic_size) != 0) return false;
  const uint32_t header_size = read_u32_be(bytes + chd_magic_size);
  const uint32_t version = read_u32_be(bytes + chd_magic_size + 4);
  for (const ChdVersion& known : chd_versions) {
    if (known.version != version) continue;
    if (header_size != known.header_size || size < known.header_size) return false;
    std::memcpy(sha1, bytes + known.sha1_offset, chd_sha1_size);
    return true;
  }
  return false;
}
