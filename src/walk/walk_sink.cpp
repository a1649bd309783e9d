// The two destinations of a walk's findings.
#include "walk/walk_sink.h"

#include <cstring>

#include "catalogue/rom_entry.h"
#include "walk/open_archive.h"
#include "walk/walk_output.h"
#include "zip/zip_extract.h"

namespace {

std::unique_ptr<char[]> copy_of(const char* text) {
  const size_t size = std::strlen(text) + 1;
  std::unique_ptr<char[]> copy(new char[size]);
  std::memcpy(copy.get(), text, size);
  return copy;
}

}  // namespace

void sink_failure(WalkSink sink, const WalkFailure& failure) {
  if (sink.results == nullptr) {
    g_walk_output.failure(failure);
    return;
  }
  WalkFailure kept = failure;
  kept.name = nullptr;
  kept.origin = nullptr;
  sink.results->push_back(WalkResult{WalkResultKind::Failure, *failure.origin, nullptr, {}, false, kept, {}});
}

void sink_comment(WalkSink sink, const Provenance& archive, const char* comment) {
  if (sink.results == nullptr) {
    g_walk_output.comment(archive, comment);
    return;
  }
  sink.results->push_back(WalkResult{WalkResultKind::Comment, archive, copy_of(comment), {}, false, WalkFailure{}, {}});
}

void sink_summarised_image(WalkSink sink, const Provenance& origin, const ImageSummary& summary, bool admitted,
                           const AuditDigests* audit) {
  if (sink.results == nullptr) {
    g_walk_output.summarised_image(origin, summary, admitted, audit);
    return;
  }
  sink.results->push_back(WalkResult{WalkResultKind::Image, origin, nullptr, summary, admitted, WalkFailure{},
                                     audit != nullptr ? *audit : AuditDigests{}});
}

void sink_entry_image(WalkSink sink, const Provenance& origin, const std::shared_ptr<OpenArchive>& archive,
                      const ZipExtraction& extraction) {
  if (sink.results == nullptr) {
    g_walk_output.entry_image(origin, archive, extraction);
    return;
  }
  const SumPlan& plan = g_walk_output.plan;
  const bool admitted = is_admitted_size(plan.mode, extraction.uncompressed_size);
  ImageSummary summary{};
  AuditDigests audit{};
  ZipFailure failure = ZipFailure::None;
  if (!g_walk_output.summarise_entry(plan, archive->archive.reader, extraction, admitted, summary, audit, &failure)) {
    sink_failure(sink, failure_at(WalkMessage::UncompressFailed, reason_of_zip_failure(failure), origin));
    return;
  }
  sink_summarised_image(sink, origin, summary, admitted, &audit);
}
