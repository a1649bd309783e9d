// Where a walk's findings go: on the walking thread, into the walk's output
// (walk_output.h); on a worker walking one archive in order, into that
// job's results. The
// archive walkers write through these and need not know which.
#pragma once

#include <memory>

#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "walk/walk_failure.h"
#include "walk/walk_results.h"
#include "zip/zip_extract.h"
#include "zip/zip_reader.h"

struct OpenArchive;

struct WalkSink {
  WalkResults* results;  // null: g_walk_output
};

// `failure.origin` is copied.
void sink_failure(WalkSink sink, const WalkFailure& failure);

// A zip archive's comment, for -pzc.
void sink_comment(WalkSink sink, const Provenance& archive, const char* comment);

// An image whose summary is already made; `admitted` as is_admitted_size
// said of its size; `audit` when the run takes audit digests.
void sink_summarised_image(WalkSink sink, const Provenance& origin, const ImageSummary& summary, bool admitted,
                           const AuditDigests* audit);

// A zip entry that passed zip_prepare_extraction: handed to the output, or,
// in results, summarised here and now (or its failure).
void sink_entry_image(WalkSink sink, const Provenance& origin, const std::shared_ptr<OpenArchive>& archive,
                      const ZipExtraction& extraction);
