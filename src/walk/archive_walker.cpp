// The zip archive walker: entries in index order, handed to the workers as
// jobs (or, inside an archive a worker walks in order, summarised there);
// nested archives of every kind depth-first from the extracted block; the
// comment lines of -pzc; the expansion budget.
#include "walk/archive_walker.h"

#include <cstdint>
#include <memory>

#include "archive/archive_kind.h"
#include "catalogue/run_mode.h"
#include "walk/exclusion.h"
#include "walk/expansion_budget.h"
#include "walk/nested_archives.h"
#include "walk/open_archive.h"
#include "walk/walk_output.h"
#include "walk/walk_sink.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"
#include "zip/zip_extract.h"

namespace {

void report_unpack_failure(WalkSink sink, const Provenance& entry, ZipFailure failure) {
  sink_failure(sink, failure_at(WalkMessage::UncompressFailed, reason_of_zip_failure(failure), entry));
}

// Takes the entry's recorded size out of `part` of the budget, or reports
// that it would pass it and ends the walk of the whole archive file.
bool charge_budget(WalkSink sink, ExpansionBudget& budget, uint64_t& part, uint64_t uncompressed_size,
                   const Provenance& entry) {
  if (charge_entry(budget, part, uncompressed_size)) return true;
  sink_failure(sink, failure_at(WalkMessage::ExpansionLimit, FailureReason::ExpansionLimit, entry));
  return false;
}

// An image entry is handed on, to be summarised as it is unpacked, piece by
// piece.
void catalogue_entry(const std::shared_ptr<OpenArchive>& archive, uint32_t index, const Provenance& entry,
                     WalkSink sink, ExpansionBudget& budget, int level) {
  ZipExtraction extraction{};
  ZipFailure failure = ZipFailure::None;
  if (!zip_prepare_extraction(archive->archive.reader, index, extraction, &failure)) {
    report_unpack_failure(sink, entry, failure);
    return;
  }
  if (!charge_budget(sink, budget, image_budget_part(budget, level), extraction.uncompressed_size, entry)) return;
  sink_entry_image(sink, entry, archive, extraction);
}

// A nested archive is the one thing held whole, for its own walk and for
// the jobs reading its entries.
// `recorded_size` is what the central directory says it unpacks to.
void walk_nested_archive(const OpenArchive& archive, uint32_t index, ArchiveKind kind, uint64_t recorded_size,
                         const Provenance& entry, WalkSink sink, ExpansionBudget& budget, int level) {
  if (refuse_too_deep(sink, budget, entry, recorded_size, level)) return;
  // Its recorded size is charged before any memory is given to it.
  ZipExtraction extraction{};
  ZipFailure failure = ZipFailure::None;
  if (!zip_prepare_extraction(archive.archive.reader, index, extraction, &failure)) {
    report_unpack_failure(sink, entry, failure);
    return;
  }
  if (!charge_budget(sink, budget, budget.nested_left, extraction.uncompressed_size, entry)) return;
  uint64_t size = 0;
  MallocBlock block(zip_extract_prepared_entry(archive.archive.reader, extraction, size, &failure));
  if (!block) {
    report_unpack_failure(sink, entry, failure);
    return;
  }
  walk_held_archive(kind, entry, std::move(block), size, sink, budget, level + 1);
}

void scan_entry(const Provenance& archive_origin, const std::shared_ptr<OpenArchive>& archive, uint32_t index,
                const ZipEntryStat& stat, WalkSink sink, ExpansionBudget& budget, int level) {
  const ArchiveKind kind = archive_kind_of(stat.name);
  if (g_walk_output.plan.mode == RunMode::Pzc && kind == ArchiveKind::None) return;
  const Provenance entry = entry_of(archive_origin, static_cast<uint8_t>(ArchiveKind::Zip), index, stat.name);
  if (kind != ArchiveKind::None) {
    walk_nested_archive(*archive, index, kind, stat.uncompressed_size, entry, sink, budget, level);
    return;
  }
  catalogue_entry(archive, index, entry, sink, budget, level);
}

}  // namespace

// `level` is the archive's nesting depth: 1 for the archive file itself.
void walk_zip_archive(const Provenance& origin, const std::shared_ptr<OpenArchive>& open_archive, WalkSink sink,
                      ExpansionBudget& budget, int level) {
  const ZipArchive& archive = open_archive->archive;
  if (g_walk_output.plan.mode == RunMode::Pzc && archive.comment_size != 0) sink_comment(sink, origin, archive.comment);
  for (uint32_t index = 0; index < zip_entry_count(archive.reader); ++index) {
    ZipEntryStat stat{};
    if (!zip_stat_entry(archive.reader, index, stat)) {
      sink_failure(sink, failure_at(WalkMessage::FileStat, FailureReason::DamagedArchive, origin, index));
      continue;
    }
    if (zip_entry_is_directory(archive.reader, index) || is_excluded_entry(stat.name)) continue;
    scan_entry(origin, open_archive, index, stat, sink, budget, level);
    if (budget.exhausted) return;
  }
}

void scan_archive(const Provenance& origin, const std::shared_ptr<OpenArchive>& archive) {
  ExpansionBudget budget = expansion_budget_for(archive->archive.reader.archive_size);
  walk_zip_archive(origin, archive, WalkSink{nullptr}, budget, 1);
}
