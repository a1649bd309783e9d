// Unpacking Zstandard frames piece by piece through libzstd.
#include "zip/unpack_zstd.h"

#include <zstd.h>

#include <memory>

namespace {

struct ZstdContextDeleter {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

// 2^27 bytes is libzstd's own default limit; a frame's header asking for
// more must not make us allocate it.
constexpr int max_window_log = 27;

}  // namespace

bool zstd_unpack(ZipEntryInput& input, const ZipOutput& output) {
  const std::unique_ptr<ZSTD_DCtx, ZstdContextDeleter> context(ZSTD_createDCtx());
  if (!context) return false;
  if (ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, max_window_log))) return false;
  ZSTD_inBuffer in{nullptr, 0, 0};
  bool input_ended = false;
  bool between_frames = true;  // the last call finished a frame and flushed it
  bool any_frame = false;
  for (;;) {
    if (in.pos == in.size && !input_ended) {
      const uint8_t* piece = nullptr;
      size_t piece_size = 0;
      if (!zip_next_input(input, piece, piece_size)) return false;
      input_ended = piece_size == 0;
      in = ZSTD_inBuffer{piece, piece_size, 0};
    }
    if (input_ended && in.pos == in.size && between_frames) return any_frame;
    ZSTD_outBuffer out{output.buffer, zip_piece_size, 0};
    const size_t hint = ZSTD_decompressStream(context.get(), &out, &in);
    if (ZSTD_isError(hint)) return false;
    if (!zip_write_output(output, output.buffer, out.pos)) return false;
    between_frames = hint == 0;
    any_frame = any_frame || between_frames;
    // Out of input mid-frame, with the output not full: nothing more can come.
    if (input_ended && in.pos == in.size && !between_frames && out.pos < out.size) return false;
  }
}
