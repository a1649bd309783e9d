// Unpacking a bzip2 stream piece by piece through libbz2.
#include "zip/unpack_bzip2.h"

#include <bzlib.h>

#include <climits>

namespace {

// Ends the decoder on every way out; libbz2 frees its blocks there.
struct Bzip2Decoder {
  bz_stream stream{};
  bool started = false;
  Bzip2Decoder() { started = BZ2_bzDecompressInit(&stream, 0, 0) == BZ_OK; }
  ~Bzip2Decoder() {
    if (started) BZ2_bzDecompressEnd(&stream);
  }
  Bzip2Decoder(const Bzip2Decoder&) = delete;
  Bzip2Decoder& operator=(const Bzip2Decoder&) = delete;
};

static_assert(zip_piece_size <= UINT_MAX, "libbz2 counts in unsigned int");

}  // namespace

bool bzip2_unpack(ZipEntryInput& input, const ZipOutput& output) {
  Bzip2Decoder decoder;
  if (!decoder.started) return false;
  bz_stream& stream = decoder.stream;
  bool input_ended = false;
  for (;;) {
    if (stream.avail_in == 0 && !input_ended) {
      const uint8_t* piece = nullptr;
      size_t piece_size = 0;
      if (!zip_next_input(input, piece, piece_size)) return false;
      input_ended = piece_size == 0;
      // libbz2 only reads through next_in, though its type says otherwise.
      stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(piece));
      stream.avail_in = static_cast<unsigned>(piece_size);
    }
    stream.next_out = reinterpret_cast<char*>(output.buffer);
    stream.avail_out = static_cast<unsigned>(zip_piece_size);
    const int status = BZ2_bzDecompress(&stream);
    if (status != BZ_OK && status != BZ_STREAM_END) return false;
    const size_t produced = zip_piece_size - stream.avail_out;
    if (!zip_write_output(output, output.buffer, produced)) return false;
    if (status == BZ_STREAM_END) return true;
    // No input left and nothing more came out: the stream stops short.
    if (input_ended && stream.avail_in == 0 && produced == 0) return false;
  }
}
