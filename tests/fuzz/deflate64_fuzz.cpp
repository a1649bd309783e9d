// Fuzz target: the decoders of the streamed methods over arbitrary bytes.
// The first byte picks the method, the next two give LZMA's unpacked size,
// the rest is the compressed stream. Output past 4 MiB is refused, so that
// a small input cannot keep a run busy for long.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "zip/zip_methods.h"
#include "zip/zip_source.h"

namespace {

constexpr uint16_t methods[] = {method_deflate64, method_bzip2, method_lzma, method_zstd, method_xz};
constexpr uint64_t output_limit = uint64_t{4} << 20;

bool count_output(void* context, const uint8_t* bytes, size_t size) {
  uint64_t& count = *static_cast<uint64_t*>(context);
  if (size > output_limit - count) return false;
  // Touch every byte, so that the sanitizers see an unwritten one.
  uint8_t sum = 0;
  for (size_t i = 0; i < size; ++i) sum = static_cast<uint8_t>(sum + bytes[i]);
  (void)sum;
  count += size;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint16_t method = methods[data[0] % std::size(methods)];
  const uint64_t uncompressed_size = data[1] | uint64_t{data[2]} << 8;
  ZipReader reader{};
  zip_source_use_memory(reader, data + 3, size - 3);
  const std::unique_ptr<uint8_t[]> input_buffer(new uint8_t[zip_piece_size]);
  const std::unique_ptr<uint8_t[]> output_buffer(new uint8_t[zip_piece_size]);
  ZipEntryInput input{&reader, 0, size - 3, input_buffer.get()};
  uint64_t count = 0;
  const ZipOutput output{output_buffer.get(), &count, count_output};
  const bool unpacked = zip_unpack_method(method, 0, uncompressed_size, input, output);
  if (unpacked && method == method_lzma && count != uncompressed_size) std::abort();
  zip_close(reader);
  return 0;
}
