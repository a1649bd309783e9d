// Test images. Forcing a CRC-32 by choosing the last four bytes of an image:
//
// The register of the reflected CRC-32 takes a byte b as
//   r' = (r >> 8) ^ table[(r ^ b) & 0xFF].
// The top byte of r' comes from the table entry alone, and the table's top
// bytes are all different, so the step can be run backwards. Feeding four
// bytes B from state s ends where feeding four zero bytes from s ^ B ends;
// so we run four zero steps back from the wanted register to a state u and
// take B = s ^ u.
#include "support/test_bytes.h"

#include <libdeflate.h>
#include <zlib.h>
#include <zstd.h>

#include <array>
#include <random>
#include <stdexcept>

namespace {

constexpr uint32_t reflected_polynomial = 0xEDB88320;

std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t index = 0; index < 256; ++index) {
    uint32_t value = index;
    for (int bit = 0; bit < 8; ++bit) value = (value >> 1) ^ ((value & 1u) ? reflected_polynomial : 0u);
    table[index] = value;
  }
  return table;
}

// The register before a zero byte that leaves the register at `after`.
uint32_t step_back_over_zero(const std::array<uint32_t, 256>& table, uint32_t after) {
  for (uint32_t index = 0; index < 256; ++index) {
    if ((table[index] >> 24) != (after >> 24)) continue;
    return ((after ^ table[index]) << 8) | index;
  }
  throw std::logic_error("CRC table top bytes are not a permutation");
}

}  // namespace

std::string random_bytes(size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::string out(size, '\0');
  for (char& byte : out) byte = static_cast<char>(generator());
  return out;
}

std::string text_bytes(size_t size) {
  std::string out;
  for (size_t i = 0; out.size() < size; ++i) out += "line " + std::to_string(i) + "\n";
  out.resize(size);
  return out;
}

uint32_t crc32_of(const std::string& bytes) {
  return libdeflate_crc32(0, bytes.data(), bytes.size());
}

void force_crc(std::string& image, uint32_t wanted_crc) {
  if (image.size() < 4) throw std::invalid_argument("force_crc needs four bytes to patch");
  static const std::array<uint32_t, 256> table = make_crc_table();
  const size_t patch_offset = image.size() - 4;
  // The register holds the complement of the CRC of what it has read so far.
  const uint32_t before_patch = ~libdeflate_crc32(0, image.data(), patch_offset);
  uint32_t state = ~wanted_crc;
  for (int i = 0; i < 4; ++i) state = step_back_over_zero(table, state);
  const uint32_t patch = before_patch ^ state;
  for (int i = 0; i < 4; ++i) image[patch_offset + i] = static_cast<char>(patch >> (8 * i));
  if (crc32_of(image) != wanted_crc) throw std::logic_error("force_crc missed its target");
}

std::string with_crc(std::string bytes, uint32_t crc) {
  force_crc(bytes, crc);
  return bytes;
}

std::string zstd_frame(const std::string& bytes) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  std::string frame(ZSTD_compressBound(bytes.size()), '\0');
  const size_t size = ZSTD_compress2(context, frame.data(), frame.size(), bytes.data(), bytes.size());
  ZSTD_freeCCtx(context);
  if (ZSTD_isError(size)) throw std::runtime_error("zstd compression failed");
  frame.resize(size);
  return frame;
}

std::string gzip_member(const std::string& bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string member(deflateBound(&stream, bytes.size()), '\0');
  std::string input = bytes;
  stream.next_in = reinterpret_cast<Bytef*>(input.data());
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = reinterpret_cast<Bytef*>(member.data());
  stream.avail_out = static_cast<uInt>(member.size());
  const int result = deflate(&stream, Z_FINISH);
  member.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("gzip compression failed");
  return member;
}
