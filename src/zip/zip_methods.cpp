// Choosing the decoder for an entry's compression method.
#include "zip/zip_methods.h"

#include "zip/deflate64.h"
#include "zip/unpack_bzip2.h"
#include "zip/unpack_lzma.h"
#include "zip/unpack_zstd.h"

bool zip_method_is_streamed(uint16_t method) {
  return method == method_deflate64 || method == method_bzip2 || method == method_lzma || method == method_zstd ||
         method == method_xz;
}

// Every method so far finds its own end; the flags only say whether LZMA's
// end marker was written, and it is accepted either way.
bool zip_unpack_method(uint16_t method, [[maybe_unused]] uint16_t flags, uint64_t uncompressed_size,
                       ZipEntryInput& input, const ZipOutput& output) {
  switch (method) {
    case method_deflate64:
      return deflate64_unpack(input, output);
    case method_bzip2:
      return bzip2_unpack(input, output);
    case method_lzma:
      return zip_lzma_unpack(uncompressed_size, input, output);
    case method_zstd:
      return zstd_unpack(input, output);
    case method_xz:
      return xz_unpack(input, output);
    default:
      return false;
  }
}
