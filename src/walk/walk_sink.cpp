// The two destinations of a walk's findings.
#include "walk/walk_sink.h"

#include <cstring>

#include "catalogue/rom_entry.h"
#include "walk/image_jobs.h"
#include "walk/image_reading.h"

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
    report_failure(failure);
    return;
  }
  sink.results->push_back(WalkResult{WalkResultKind::Failure, copy_of(failure.name), nullptr, {}, false, failure, {}});
}

void sink_comment(WalkSink sink, const char* archive_name, const char* comment) {
  if (sink.results == nullptr) {
    submit_archive_comment(archive_name, comment);
    return;
  }
  sink.results->push_back(
      WalkResult{WalkResultKind::Comment, copy_of(archive_name), copy_of(comment), {}, false, WalkFailure{}, {}});
}

void sink_summarised_image(WalkSink sink, const char* name, const ImageSummary& summary, bool admitted,
                           const AuditDigests* audit) {
  if (sink.results == nullptr) {
    submit_summarised_image(name, summary, admitted, audit);
    return;
  }
  sink.results->push_back(WalkResult{WalkResultKind::Image, copy_of(name), nullptr, summary, admitted, WalkFailure{},
                                     audit != nullptr ? *audit : AuditDigests{}});
}

void sink_entry_image(WalkSink sink, const char* name, const std::shared_ptr<OpenArchive>& archive,
                      const ZipExtraction& extraction) {
  if (sink.results == nullptr) {
    submit_entry_image(name, archive, extraction);
    return;
  }
  const bool admitted = is_admitted_size(extraction.uncompressed_size);
  ImageSummary summary{};
  AuditDigests audit{};
  ZipFailure failure = ZipFailure::None;
  if (!summarise_entry(archive->archive.reader, extraction, admitted, summary, audit, &failure)) {
    sink_failure(sink, WalkFailure{WalkMessage::UncompressFailed, reason_of_zip_failure(failure), name, 0});
    return;
  }
  sink_summarised_image(sink, name, summary, admitted, &audit);
}
