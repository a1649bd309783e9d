// Each encoder is fed the same megabyte of zeros until `size` is reached,
// its output taken 64 KiB at a time.
#include "support/packed_zeros.h"

#include <bzlib.h>
#include <libdeflate.h>
#include <lzma.h>
#include <zstd.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <vector>

#include "zip/zip_methods.h"

namespace {

constexpr size_t zeros_chunk = size_t{1} << 20;
constexpr uint16_t lzma_end_marker_flag = 2;

// One call of an encoder over a piece of input, all of it taken; with
// `finish`, until the stream ends. Appends what comes out.
using EncoderStep = std::function<void(const char* piece, size_t size, bool finish, std::string& packed)>;

std::string pack_zeros(uint64_t size, const EncoderStep& step, uint32_t& crc) {
  const std::vector<char> zeros(zeros_chunk);
  std::string packed;
  crc = 0;
  for (uint64_t fed = 0;;) {
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(zeros.size(), size - fed));
    fed += piece;
    crc = libdeflate_crc32(crc, zeros.data(), piece);
    step(zeros.data(), piece, fed == size, packed);
    if (fed == size) return packed;
  }
}

std::string bzip2_zeros(uint64_t size, uint32_t& crc) {
  bz_stream stream{};
  if (BZ2_bzCompressInit(&stream, 9, 0, 0) != BZ_OK) throw std::runtime_error("bzip2 init failed");
  std::string packed = pack_zeros(
      size,
      [&](const char* piece, size_t piece_size, bool finish, std::string& out) {
        stream.next_in = const_cast<char*>(piece);
        stream.avail_in = static_cast<unsigned>(piece_size);
        for (char buffer[1 << 16];;) {
          stream.next_out = buffer;
          stream.avail_out = sizeof buffer;
          const int status = BZ2_bzCompress(&stream, finish ? BZ_FINISH : BZ_RUN);
          if (status < 0) throw std::runtime_error("bzip2 failed");
          out.append(buffer, sizeof buffer - stream.avail_out);
          if (status == BZ_STREAM_END || (!finish && stream.avail_in == 0)) return;
        }
      },
      crc);
  BZ2_bzCompressEnd(&stream);
  return packed;
}

// An initialised liblzma encoder, raw (zip's LZMA) or XZ, over the zeros.
std::string lzma_zeros(lzma_stream& stream, uint64_t size, uint32_t& crc) {
  std::string packed = pack_zeros(
      size,
      [&](const char* piece, size_t piece_size, bool finish, std::string& out) {
        stream.next_in = reinterpret_cast<const uint8_t*>(piece);
        stream.avail_in = piece_size;
        for (uint8_t buffer[1 << 16];;) {
          stream.next_out = buffer;
          stream.avail_out = sizeof buffer;
          const lzma_ret status = lzma_code(&stream, finish ? LZMA_FINISH : LZMA_RUN);
          if (status != LZMA_OK && status != LZMA_STREAM_END) throw std::runtime_error("lzma failed");
          out.append(reinterpret_cast<const char*>(buffer), sizeof buffer - stream.avail_out);
          if (status == LZMA_STREAM_END || (!finish && stream.avail_in == 0)) return;
        }
      },
      crc);
  lzma_end(&stream);
  return packed;
}

std::string zstd_zeros(uint64_t size, uint32_t& crc) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, 1);
  std::string packed = pack_zeros(
      size,
      [&](const char* piece, size_t piece_size, bool finish, std::string& out) {
        ZSTD_inBuffer input{piece, piece_size, 0};
        for (char buffer[1 << 16];;) {
          ZSTD_outBuffer output{buffer, sizeof buffer, 0};
          const size_t left = ZSTD_compressStream2(context, &output, &input, finish ? ZSTD_e_end : ZSTD_e_continue);
          if (ZSTD_isError(left)) throw std::runtime_error("zstd failed");
          out.append(buffer, output.pos);
          if (finish ? left == 0 : input.pos == input.size) return;
        }
      },
      crc);
  ZSTD_freeCCtx(context);
  return packed;
}

}  // namespace

PackedZeros packed_zeros(uint16_t method, uint64_t size) {
  PackedZeros packed{{}, 0, 0};
  lzma_stream stream = LZMA_STREAM_INIT;
  switch (method) {
    case method_bzip2:
      packed.data = bzip2_zeros(size, packed.crc32);
      return packed;
    case method_lzma: {
      // Zip's LZMA form: version, properties size 5, the properties, the raw
      // stream with its end marker.
      lzma_options_lzma options{};
      lzma_lzma_preset(&options, 1);
      const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
      uint8_t properties[5];
      if (lzma_properties_encode(&filters[0], properties) != LZMA_OK || lzma_raw_encoder(&stream, filters) != LZMA_OK)
        throw std::runtime_error("lzma init failed");
      packed.data = std::string("\x10\x02\x05\x00", 4) + std::string(reinterpret_cast<char*>(properties), 5) +
                    lzma_zeros(stream, size, packed.crc32);
      packed.flags = lzma_end_marker_flag;
      return packed;
    }
    case method_xz:
      if (lzma_easy_encoder(&stream, 1, LZMA_CHECK_CRC64) != LZMA_OK) throw std::runtime_error("xz init failed");
      packed.data = lzma_zeros(stream, size, packed.crc32);
      return packed;
    case method_zstd:
      packed.data = zstd_zeros(size, packed.crc32);
      return packed;
    default:
      throw std::invalid_argument("no encoder for this method");
  }
}
