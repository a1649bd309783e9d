// Unpacking LZMA and XZ piece by piece through liblzma.
//
// Zip's LZMA carries no .lzma header: a small header of its own, the five
// property bytes, then the raw stream. A raw LZMA1 stream cannot tell where
// it ends unless it ends in a marker, so the decoder is given the entry's
// unpacked size and stops there. Flag bit 1 says a marker follows; some
// writers add one without saying so, so a marker right at that size is
// taken either way (it is refused anywhere else).
#include "zip/unpack_lzma.h"

#include <lzma.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr size_t zip_lzma_header_size = 4;  // version (2), properties size (2)
constexpr size_t zip_lzma_properties_size = 5;
constexpr uint64_t xz_memory_limit = uint64_t{512} << 20;

// Ends the decoder on every way out; liblzma frees its state there.
struct LzmaDecoder {
  lzma_stream stream = LZMA_STREAM_INIT;
  LzmaDecoder() = default;
  ~LzmaDecoder() { lzma_end(&stream); }
  LzmaDecoder(const LzmaDecoder&) = delete;
  LzmaDecoder& operator=(const LzmaDecoder&) = delete;
};

// lzma_properties_decode allocates the options with malloc (no allocator given).
struct FreeOptions {
  void operator()(void* options) const { std::free(options); }
};

// Feeds the started decoder until its stream ends. The first piece may
// already be partly used by the caller: it passes what is left of it.
bool run_decoder(lzma_stream& stream, const uint8_t* first, size_t first_size, ZipEntryInput& input,
                 const ZipOutput& output) {
  stream.next_in = first;
  stream.avail_in = first_size;
  bool input_ended = false;
  for (;;) {
    if (stream.avail_in == 0 && !input_ended) {
      const uint8_t* piece = nullptr;
      size_t piece_size = 0;
      if (!zip_next_input(input, piece, piece_size)) return false;
      input_ended = piece_size == 0;
      stream.next_in = piece;
      stream.avail_in = piece_size;
    }
    stream.next_out = output.buffer;
    stream.avail_out = zip_piece_size;
    // With LZMA_FINISH, a stream that stops short is an error, not a wait.
    const lzma_ret status = lzma_code(&stream, input_ended ? LZMA_FINISH : LZMA_RUN);
    if (status != LZMA_OK && status != LZMA_STREAM_END) return false;
    if (!zip_write_output(output, output.buffer, zip_piece_size - stream.avail_out)) return false;
    if (status == LZMA_STREAM_END) return true;
  }
}

// Reads the header and the properties, which may straddle pieces; `rest`
// and `rest_size` are what remains of the last piece read.
bool read_lzma_header(ZipEntryInput& input, uint8_t (&header)[zip_lzma_header_size + zip_lzma_properties_size],
                      const uint8_t*& rest, size_t& rest_size) {
  size_t have = 0;
  rest_size = 0;
  while (have < sizeof header) {
    if (!zip_next_input(input, rest, rest_size) || rest_size == 0) return false;
    const size_t take = rest_size < sizeof header - have ? rest_size : sizeof header - have;
    for (size_t i = 0; i < take; ++i) header[have + i] = rest[i];
    have += take;
    rest += take;
    rest_size -= take;
  }
  return true;
}

}  // namespace

bool zip_lzma_unpack(uint64_t uncompressed_size, ZipEntryInput& input, const ZipOutput& output) {
  uint8_t header[zip_lzma_header_size + zip_lzma_properties_size];
  const uint8_t* rest = nullptr;
  size_t rest_size = 0;
  if (!read_lzma_header(input, header, rest, rest_size)) return false;
  if (header[2] != zip_lzma_properties_size || header[3] != 0) return false;

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, header + zip_lzma_header_size, zip_lzma_properties_size) !=
      LZMA_OK) {
    return false;
  }
  const std::unique_ptr<void, FreeOptions> owned_options(filters[0].options);
  auto& options = *static_cast<lzma_options_lzma*>(filters[0].options);
  // No match reaches further back than the start of the output, so a larger
  // dictionary is never needed, whatever the properties ask for.
  const uint64_t largest_useful = uncompressed_size > LZMA_DICT_SIZE_MIN ? uncompressed_size : LZMA_DICT_SIZE_MIN;
  if (options.dict_size > largest_useful) options.dict_size = static_cast<uint32_t>(largest_useful);
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options.ext_size_low = static_cast<uint32_t>(uncompressed_size);
  options.ext_size_high = static_cast<uint32_t>(uncompressed_size >> 32);

  LzmaDecoder decoder;
  if (lzma_raw_decoder(&decoder.stream, filters) != LZMA_OK) return false;
  return run_decoder(decoder.stream, rest, rest_size, input, output);
}

bool xz_unpack(ZipEntryInput& input, const ZipOutput& output) {
  LzmaDecoder decoder;
  if (lzma_stream_decoder(&decoder.stream, xz_memory_limit, 0) != LZMA_OK) return false;
  return run_decoder(decoder.stream, nullptr, 0, input, output);
}
