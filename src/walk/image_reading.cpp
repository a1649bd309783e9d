// One pass per image: each piece is read or unpacked into a reused buffer and
// summarised while it is still in the cache, so that memory does not grow
// with the size of an image.
#include "walk/image_reading.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>

#include "catalogue/summariser.h"
#include "zip/zip_reader.h"
#include "zip/zip_stream.h"

namespace {

// Every thread that reads images has its own buffers and decoders.
struct ReadingState {
  SummariserHolder summary;
  ZipScratch zip{};
  uint8_t* file_piece = nullptr;

  ReadingState() = default;
  ~ReadingState() {
    zip_free_scratch(zip);
    std::free(file_piece);
  }
  ReadingState(const ReadingState&) = delete;
  ReadingState& operator=(const ReadingState&) = delete;
};

ReadingState& this_thread_state() {
  thread_local ReadingState state;
  return state;
}

bool feed_piece(void* context, const uint8_t* bytes, size_t size) {
  feed_summary(*static_cast<Summariser*>(context), bytes, size);
  return true;
}

}  // namespace

bool summarise_file(int fd, uint64_t size, bool digests, ImageSummary& summary) {
  ReadingState& state = this_thread_state();
  if (state.file_piece == nullptr) {
    state.file_piece = static_cast<uint8_t*>(std::malloc(zip_piece_size));
    if (state.file_piece == nullptr) throw std::bad_alloc();  // a fixed, small size
  }
  Summariser& summariser = state.summary.summariser;
  begin_summary(summariser, size, true, digests);
  uint64_t done = 0;
  while (done < size) {
    const uint64_t wanted = size - done < zip_piece_size ? size - done : zip_piece_size;
    const ssize_t got = pread(fd, state.file_piece, static_cast<size_t>(wanted), static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    feed_summary(summariser, state.file_piece, static_cast<size_t>(got));
    done += static_cast<uint64_t>(got);
  }
  summary = finish_summary(summariser);
  return true;
}

bool summarise_entry(const ZipReader& reader, const ZipExtraction& extraction, bool digests, ImageSummary& summary,
                     ZipFailure* failure) {
  ReadingState& state = this_thread_state();
  Summariser& summariser = state.summary.summariser;
  // The unpacking takes the CRC-32 for its own check.
  begin_summary(summariser, extraction.uncompressed_size, false, digests);
  const ZipOutput output{nullptr, &summariser, feed_piece};
  if (!zip_unpack_entry(reader, extraction, state.zip, output, failure)) return false;
  summary = finish_summary(summariser);
  summary.crc = extraction.crc32;
  return true;
}
