// Nested archives of every kind: zip through our own reader, the others
// through libarchive, each reading the held block in place.
#include "walk/nested_archives.h"

#include <memory>

#include "archive/archive_reader.h"
#include "walk/archive_walker.h"
#include "walk/expansion_budget.h"
#include "walk/open_archive.h"
#include "walk/stream_archive_walker.h"
#include "walk/walk_sink.h"

bool refuse_too_deep(WalkSink sink, ExpansionBudget& budget, const Provenance& entry, uint64_t recorded_size,
                     int level) {
  if (level < max_nesting_level) return false;
  if (!charge_unopened_archive(budget, recorded_size)) {
    sink_failure(sink, failure_at(WalkMessage::ExpansionLimit, FailureReason::ExpansionLimit, entry));
    return true;
  }
  sink_failure(sink, failure_at(WalkMessage::NestingTooDeep, FailureReason::TooDeep, entry));
  return true;
}

void walk_held_archive(ArchiveKind kind, const Provenance& origin, MallocBlock block, uint64_t size, WalkSink sink,
                       ExpansionBudget& budget, int level) {
  if (kind == ArchiveKind::Zip) {
    // Jobs reading its entries keep the block alive through the archive.
    const auto nested = std::make_shared<OpenArchive>();
    nested->block = std::move(block);
    ZipFailure failure = ZipFailure::None;
    if (!zip_open_memory(nested->archive, nested->block.get(), size, &failure)) {
      sink_failure(sink, failure_at(WalkMessage::ErrorOpening, reason_of_zip_failure(failure), origin));
      return;
    }
    walk_zip_archive(origin, nested, sink, budget, level);
    return;
  }
  ArchiveReader reader{};
  if (!archive_open_memory(reader, kind, block.get(), size, display_name(origin).c_str())) {
    sink_failure(sink, failure_at(WalkMessage::ErrorOpening, reason_of_archive_failure(reader.failure), origin));
    return;
  }
  walk_stream_archive(origin, reader, sink, budget, level);
  archive_close(reader);
}
