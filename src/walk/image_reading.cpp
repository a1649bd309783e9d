// One pass per image: each piece is read or unpacked into a reused buffer and
// summarised while it is still in the cache, so that memory does not grow
// with the size of an image.
#include "walk/image_reading.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>

#include "archive/archive_reader.h"
#include "catalogue/rom_entry.h"
#include "catalogue/summariser.h"
#include "walk/expansion_budget.h"
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

uint8_t* file_piece_of(ReadingState& state) {
  if (state.file_piece == nullptr) {
    state.file_piece = static_cast<uint8_t*>(std::malloc(zip_piece_size));
    if (state.file_piece == nullptr) throw std::bad_alloc();  // a fixed, small size
  }
  return state.file_piece;
}

// Fills `piece` as far as the entry goes; false on a failed read.
bool fill_piece(ArchiveReader& reader, uint8_t* piece, size_t& filled) {
  filled = 0;
  while (filled < zip_piece_size) {
    size_t got = 0;
    if (!archive_read_piece(reader, piece + filled, zip_piece_size - filled, got)) return false;
    if (got == 0) break;
    filled += got;
  }
  return true;
}

// An entry of known size: exactly that many bytes.
StreamOutcome summarise_sized_entry(ArchiveReader& reader, uint64_t size, Summariser& summariser, uint8_t* piece) {
  begin_summary(summariser, size, true, is_admitted_size(size));
  uint64_t done = 0;
  for (;;) {
    size_t got = 0;
    if (!fill_piece(reader, piece, got)) return StreamOutcome::Failed;
    if (got == 0) break;
    if (got > size - done) return StreamOutcome::Failed;  // longer than recorded
    feed_summary(summariser, piece, got);
    done += got;
  }
  return done == size ? StreamOutcome::Unpacked : StreamOutcome::Failed;
}

// An entry whose size shows at its end. The run modes that admit images
// by size admit only small ones: an image that ends within the first
// piece is summarised knowing its size; a longer one is admitted exactly
// when every size is.
StreamOutcome summarise_unsized_entry(ArchiveReader& reader, ExpansionBudget& budget, Summariser& summariser,
                                      uint8_t* piece) {
  size_t got = 0;
  if (!fill_piece(reader, piece, got)) return StreamOutcome::Failed;
  if (got > least_entry_charge && !charge_bytes(budget, got - least_entry_charge)) return StreamOutcome::OverBudget;
  if (got < zip_piece_size) {
    begin_summary(summariser, got, true, is_admitted_size(got));
    feed_summary(summariser, piece, got);
    return StreamOutcome::Unpacked;
  }
  begin_summary(summariser, 0, true, is_admitted_size(UINT64_MAX));
  while (got != 0) {
    feed_summary(summariser, piece, got);
    if (!fill_piece(reader, piece, got)) return StreamOutcome::Failed;
    if (!charge_bytes(budget, got)) return StreamOutcome::OverBudget;
  }
  summariser.summary.size = summariser.done;
  return StreamOutcome::Unpacked;
}

}  // namespace

StreamOutcome summarise_archive_entry(ArchiveReader& reader, const ArchiveEntryInfo& info, ExpansionBudget& budget,
                                      ImageSummary& summary) {
  ReadingState& state = this_thread_state();
  Summariser& summariser = state.summary.summariser;
  uint8_t* const piece = file_piece_of(state);
  const StreamOutcome outcome = info.size_known ? summarise_sized_entry(reader, info.size, summariser, piece)
                                                : summarise_unsized_entry(reader, budget, summariser, piece);
  if (outcome == StreamOutcome::Unpacked) summary = finish_summary(summariser);
  return outcome;
}

bool summarise_file(int fd, uint64_t size, bool digests, ImageSummary& summary) {
  ReadingState& state = this_thread_state();
  file_piece_of(state);
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

bool summarise_entry(const ZipReader& reader, const ZipExtraction& extraction, bool digests, ImageSummary& summary) {
  ReadingState& state = this_thread_state();
  Summariser& summariser = state.summary.summariser;
  // The unpacking takes the CRC-32 for its own check.
  begin_summary(summariser, extraction.uncompressed_size, false, digests);
  const ZipOutput output{nullptr, &summariser, feed_piece};
  if (!zip_unpack_entry(reader, extraction, state.zip, output)) return false;
  summary = finish_summary(summariser);
  summary.crc = extraction.crc32;
  return true;
}
