// One pass per image: each piece is read or unpacked into a reused buffer and
// summarised while it is still in the cache, so that memory does not grow
// with the size of an image.
#include "walk/image_reading.h"

#include <memory>

#include "catalogue/summariser.h"
#include "zip/opened_file.h"
#include "zip/zip_reader.h"
#include "zip/zip_stream.h"

namespace {

// Every thread that reads images has its own buffers and decoders.
struct ReadingState {
  SummariserHolder summary;
  ZipScratch zip{};
  std::unique_ptr<uint8_t[]> file_piece;

  ReadingState() = default;
  ~ReadingState() { zip_free_scratch(zip); }
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

bool summarise_file(int fd, uint64_t size, bool digests, ImageSummary& summary, AuditDigests& audit) {
  ReadingState& state = this_thread_state();
  // A fixed, small size: a failure goes to the new handler.
  if (!state.file_piece) state.file_piece.reset(new uint8_t[zip_piece_size]);
  Summariser& summariser = state.summary.summariser;
  begin_summary(summariser, size, true, digests);
  for (uint64_t done = 0; done < size;) {
    const uint64_t wanted = size - done < zip_piece_size ? size - done : zip_piece_size;
    if (!read_exactly(fd, done, state.file_piece.get(), wanted)) return false;
    feed_summary(summariser, state.file_piece.get(), static_cast<size_t>(wanted));
    done += wanted;
  }
  summary = finish_summary(summariser);
  if (summariser.audits) audit = summariser.audit.digests;
  return true;
}

bool summarise_entry(const ZipReader& reader, const ZipExtraction& extraction, bool digests, ImageSummary& summary,
                     AuditDigests& audit, ZipFailure* failure) {
  ReadingState& state = this_thread_state();
  Summariser& summariser = state.summary.summariser;
  // The unpacking takes the CRC-32 for its own check.
  begin_summary(summariser, extraction.uncompressed_size, false, digests);
  const ZipOutput output{nullptr, &summariser, feed_piece};
  if (!zip_unpack_entry(reader, extraction, state.zip, output, failure)) return false;
  summary = finish_summary(summariser);
  summary.crc = extraction.crc32;
  if (summariser.audits) audit = summariser.audit.digests;
  return true;
}
