// One pass per image: each piece is read or unpacked into a reused buffer and
// summarised while it is still in the cache, so that memory does not grow
// with the size of an image.
#include "jobs/image_reading.h"

#include <memory>

#include "archive/archive_reader.h"
#include "base/opened_file.h"
#include "catalogue/rom_entry.h"
#include "catalogue/summariser.h"
#include "walk/expansion_budget.h"
#include "zip/zip_extract.h"
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

uint8_t* file_piece_of(ReadingState& state) {
  // A fixed, small size: a failure goes to the new handler.
  if (!state.file_piece) state.file_piece.reset(new uint8_t[zip_piece_size]);
  return state.file_piece.get();
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
StreamOutcome summarise_sized_entry(const SumPlan& plan, ArchiveReader& reader, uint64_t size, bool digests,
                                    Summariser& summariser, uint8_t* piece) {
  begin_summary(summariser, plan, size, true, digests);
  uint64_t done = 0;
  for (;;) {
    size_t got = 0;
    if (!fill_piece(reader, piece, got)) return StreamOutcome::Failed;
    if (got == 0) break;
    if (got > size - done) {  // longer than recorded
      reader.failure = ArchiveFailure::DamagedData;
      return StreamOutcome::Failed;
    }
    feed_summary(summariser, piece, got);
    done += got;
  }
  if (done == size) return StreamOutcome::Unpacked;
  reader.failure = ArchiveFailure::DamagedData;
  return StreamOutcome::Failed;
}

// An entry whose size shows at its end. The run modes that admit images
// by size admit only small ones: an image that ends within the first
// piece is summarised knowing its size; a longer one is admitted exactly
// when every size is.
StreamOutcome summarise_unsized_entry(const SumPlan& plan, ArchiveReader& reader, ExpansionBudget& budget,
                                      uint64_t& part, Summariser& summariser, uint8_t* piece, bool& admitted) {
  size_t got = 0;
  if (!fill_piece(reader, piece, got)) return StreamOutcome::Failed;
  if (got > least_entry_charge && !charge_bytes(budget, part, got - least_entry_charge)) {
    return StreamOutcome::OverBudget;
  }
  if (got < zip_piece_size) {
    admitted = is_admitted_size(plan.mode, got);
    begin_summary(summariser, plan, got, true, admitted);
    feed_summary(summariser, piece, got);
    return StreamOutcome::Unpacked;
  }
  admitted = is_admitted_size(plan.mode, UINT64_MAX);
  begin_summary(summariser, plan, 0, true, admitted);
  while (got != 0) {
    feed_summary(summariser, piece, got);
    if (!fill_piece(reader, piece, got)) return StreamOutcome::Failed;
    if (!charge_bytes(budget, part, got)) return StreamOutcome::OverBudget;
  }
  summariser.summary.size = summariser.done;
  return StreamOutcome::Unpacked;
}

}  // namespace

StreamOutcome summarise_archive_entry(const SumPlan& plan, ArchiveReader& reader, const ArchiveEntryInfo& info,
                                      ExpansionBudget& budget, uint64_t& part, ImageSummary& summary,
                                      AuditDigests& audit, bool& admitted) {
  ReadingState& state = this_thread_state();
  Summariser& summariser = state.summary.summariser;
  uint8_t* const piece = file_piece_of(state);
  StreamOutcome outcome = StreamOutcome::Failed;
  if (info.size_known) {
    admitted = is_admitted_size(plan.mode, info.size);
    outcome = summarise_sized_entry(plan, reader, info.size, admitted, summariser, piece);
  } else {
    outcome = summarise_unsized_entry(plan, reader, budget, part, summariser, piece, admitted);
  }
  if (outcome != StreamOutcome::Unpacked) return outcome;
  summary = finish_summary(summariser);
  if (summariser.audits) audit = summariser.audit.digests;
  return outcome;
}

bool summarise_file(const SumPlan& plan, int fd, uint64_t size, bool digests, ImageSummary& summary,
                    AuditDigests& audit) {
  ReadingState& state = this_thread_state();
  file_piece_of(state);
  Summariser& summariser = state.summary.summariser;
  begin_summary(summariser, plan, size, true, digests);
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

bool summarise_entry(const SumPlan& plan, const ZipReader& reader, const ZipExtraction& extraction, bool digests,
                     ImageSummary& summary, AuditDigests& audit, ZipFailure* failure) {
  ReadingState& state = this_thread_state();
  Summariser& summariser = state.summary.summariser;
  // The unpacking takes the CRC-32 for its own check.
  begin_summary(summariser, plan, extraction.uncompressed_size, false, digests);
  const ZipOutput output{nullptr, &summariser, feed_piece};
  if (!zip_unpack_entry(reader, extraction, state.zip, output, failure)) return false;
  summary = finish_summary(summariser);
  summary.crc = extraction.crc32;
  if (summariser.audits) audit = summariser.audit.digests;
  return true;
}
