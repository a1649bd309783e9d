// The in-order walk of a libarchive archive. Entries come one after the
// other from one handle; each is read as it comes (or passed over, in -pzc,
// when it is not an archive), and its result goes to the sink in that
// order.
#include "walk/stream_archive_walker.h"

#include <cstdlib>
#include <memory>

#include "archive/archive_reader.h"
#include "catalogue/audit_digests.h"
#include "catalogue/run_mode.h"
#include "walk/exclusion.h"
#include "walk/expansion_budget.h"
#include "walk/nested_archives.h"
#include "walk/walk_output.h"
#include "walk/walk_sink.h"

namespace {

void report_unpack_failure(WalkSink sink, const Provenance& entry, ArchiveFailure failure) {
  sink_failure(sink, failure_at(WalkMessage::UncompressFailed, reason_of_archive_failure(failure), entry));
}

void report_expansion_limit(WalkSink sink, const Provenance& entry) {
  sink_failure(sink, failure_at(WalkMessage::ExpansionLimit, FailureReason::ExpansionLimit, entry));
}

// The entry's place: a gzip image stores no name of its own.
Provenance entry_origin(const Provenance& archive, const ArchiveReader& reader, const ArchiveEntryInfo& info) {
  return entry_of(archive, static_cast<uint8_t>(reader.kind), info.index, info.name, reader.kind == ArchiveKind::Gzip);
}

// Grows `block` to hold at least `wanted` bytes; false when memory runs out.
bool grow_block(MallocBlock& block, uint64_t& capacity, uint64_t wanted) {
  if (wanted <= capacity) return true;
  uint64_t grown = capacity < 65536 ? 65536 : capacity;
  while (grown < wanted) grown = grown > UINT64_MAX / 2 ? wanted : grown * 2;
  if (grown > SIZE_MAX) return false;
  void* moved = std::realloc(block.get(), static_cast<size_t>(grown));
  if (moved == nullptr) return false;
  (void)block.release();
  block.reset(static_cast<uint8_t*>(moved));
  capacity = grown;
  return true;
}

// The current entry whole, for a nested archive. A recorded size is a
// claim: the block is never grown past it, and the entry must fill it. An
// entry without one is charged to the budget as it grows.
StreamOutcome read_whole_entry(ArchiveReader& reader, const ArchiveEntryInfo& info, ExpansionBudget& budget,
                               MallocBlock& block, uint64_t& size) {
  uint64_t capacity = 0;
  size = 0;
  if (info.size_known && !grow_block(block, capacity, info.size == 0 ? 1 : info.size)) {
    reader.failure = ArchiveFailure::OutOfMemory;
    return StreamOutcome::Failed;
  }
  for (;;) {
    if (!info.size_known && !grow_block(block, capacity, size + archive_piece_size)) {
      reader.failure = ArchiveFailure::OutOfMemory;
      return StreamOutcome::Failed;
    }
    const uint64_t room = info.size_known ? info.size - size : capacity - size;
    size_t got = 0;
    // One byte more than a sized entry holds shows an entry longer than
    // recorded.
    uint8_t spare = 0;
    uint8_t* const into = room == 0 ? &spare : block.get() + size;
    const size_t asked = room == 0 ? 1 : static_cast<size_t>(room < archive_piece_size ? room : archive_piece_size);
    if (!archive_read_piece(reader, into, asked, got)) return StreamOutcome::Failed;
    if (got == 0) break;
    if (room == 0) {
      reader.failure = ArchiveFailure::DamagedData;
      return StreamOutcome::Failed;
    }
    const uint64_t charged_before = size > least_entry_charge ? size : least_entry_charge;
    size += got;
    if (!info.size_known && size > charged_before && !charge_bytes(budget, budget.nested_left, size - charged_before)) {
      return StreamOutcome::OverBudget;
    }
  }
  if (info.size_known && size != info.size) {
    reader.failure = ArchiveFailure::DamagedData;  // shorter than recorded
    return StreamOutcome::Failed;
  }
  return StreamOutcome::Unpacked;
}

// An entry that is itself an archive. True unless it could not be read.
bool walk_nested_entry(ArchiveReader& reader, const ArchiveEntryInfo& info, ArchiveKind kind, const Provenance& entry,
                       WalkSink sink, ExpansionBudget& budget, int level) {
  if (refuse_too_deep(sink, budget, entry, info.size_known ? info.size : 0, level)) return true;
  if (!charge_entry(budget, budget.nested_left, info.size_known ? info.size : 0)) {
    report_expansion_limit(sink, entry);
    return true;
  }
  MallocBlock block;
  uint64_t size = 0;
  switch (read_whole_entry(reader, info, budget, block, size)) {
    case StreamOutcome::Unpacked:
      break;
    case StreamOutcome::OverBudget:
      report_expansion_limit(sink, entry);
      return true;
    case StreamOutcome::Failed:
      report_unpack_failure(sink, entry, reader.failure);
      return false;
  }
  walk_held_archive(kind, entry, std::move(block), size, sink, budget, level + 1);
  return true;
}

// One entry: an image, a nested archive, or (in -pzc) nothing to read.
// True unless it could not be read.
bool walk_entry(const Provenance& archive, ArchiveReader& reader, const ArchiveEntryInfo& info, WalkSink sink,
                ExpansionBudget& budget, int level) {
  const ArchiveKind kind = archive_kind_of(info.name);
  if (g_walk_output.plan.mode == RunMode::Pzc && kind == ArchiveKind::None) return true;
  if (is_excluded_entry(info.name)) return true;
  const Provenance entry = entry_origin(archive, reader, info);
  if (kind != ArchiveKind::None) {
    return walk_nested_entry(reader, info, kind, entry, sink, budget, level);
  }
  uint64_t& part = image_budget_part(budget, level);
  if (!charge_entry(budget, part, info.size_known ? info.size : 0)) {
    report_expansion_limit(sink, entry);
    return true;
  }
  ImageSummary summary{};
  AuditDigests audit{};
  bool admitted = false;
  switch (g_walk_output.summarise_streamed_entry(g_walk_output.plan, reader, info, budget, part, summary, audit,
                                                 admitted)) {
    case StreamOutcome::Unpacked:
      sink_summarised_image(sink, entry, summary, admitted, &audit);
      return true;
    case StreamOutcome::OverBudget:
      report_expansion_limit(sink, entry);
      return true;
    case StreamOutcome::Failed:
      break;
  }
  report_unpack_failure(sink, entry, reader.failure);
  return false;
}

// After two failures in a row that broke the handle: every later entry
// that would have been read, named from a fresh handle that reads headers
// only (a 7z archive lists them without unpacking anything).
void report_remaining_entries(const Provenance& archive, ArchiveReader& reader, uint32_t failed_index, WalkSink sink) {
  const ArchiveFailure failure = reader.failure;  // the damage that spoils them
  if (!archive_reopen_after(reader, failed_index)) return;
  ArchiveEntryInfo info{};
  while (archive_next_entry(reader, info) == ArchiveStep::Entry) {
    if (g_walk_output.plan.mode == RunMode::Pzc && archive_kind_of(info.name) == ArchiveKind::None) continue;
    if (is_excluded_entry(info.name)) continue;
    report_unpack_failure(sink, entry_origin(archive, reader, info), failure);
  }
}

}  // namespace

void walk_stream_archive(const Provenance& origin, ArchiveReader& reader, WalkSink sink, ExpansionBudget& budget,
                         int level) {
  bool after_failure = false;  // the handle was opened again past a failed entry
  ArchiveEntryInfo info{};
  for (;;) {
    const ArchiveStep step = archive_next_entry(reader, info);
    if (step == ArchiveStep::End) return;
    // Past a failed entry, a header that cannot be read is the same damage
    // (a tar cut short in that entry): it was reported.
    if (step == ArchiveStep::Failed && after_failure) return;
    if (step == ArchiveStep::Failed) {
      sink_failure(sink, failure_at(WalkMessage::FileStat, reason_of_archive_failure(reader.failure), origin,
                                    reader.headers_read - 1));
      if (reader.broken) return;
      continue;
    }
    const bool read = walk_entry(origin, reader, info, sink, budget, level);
    if (budget.exhausted) return;
    if (read || !reader.broken) {
      after_failure = false;
      continue;
    }
    if (after_failure) {
      report_remaining_entries(origin, reader, info.index, sink);
      return;
    }
    if (!archive_reopen_after(reader, info.index)) return;
    after_failure = true;
  }
}

void walk_stream_archive_file(const Provenance& origin, int fd, uint64_t size, ArchiveKind kind, WalkResults& results) {
  const WalkSink sink{&results};
  ArchiveReader reader{};
  if (!archive_open_descriptor(reader, kind, fd, size, display_name(origin).c_str())) {
    sink_failure(sink, failure_at(WalkMessage::ErrorOpening, reason_of_archive_failure(reader.failure), origin));
    return;
  }
  ExpansionBudget budget = expansion_budget_for(size);
  walk_stream_archive(origin, reader, sink, budget, 1);
  archive_close(reader);
}
