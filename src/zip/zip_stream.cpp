// Handing out an entry's compressed data in pieces.
#include "zip/zip_stream.h"

#include "zip/zip_source.h"

bool zip_next_input(ZipEntryInput& input, const uint8_t*& bytes, size_t& size) {
  size = static_cast<size_t>(input.remaining < zip_piece_size ? input.remaining : zip_piece_size);
  bytes = input.buffer;
  if (size == 0) return true;
  if (input.reader->source_kind == ZipSourceKind::Memory) {
    MallocBlock unused;
    bytes = zip_view_at(*input.reader, input.offset, size, unused);
    if (bytes == nullptr) return false;
  } else if (!zip_read_at(*input.reader, input.offset, input.buffer, size)) {
    return false;
  }
  input.offset += size;
  input.remaining -= size;
  return true;
}
