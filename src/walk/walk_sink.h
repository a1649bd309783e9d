// Where a walk's findings go: on the walking thread, into the job ring; on
// a worker walking one archive in order, into that job's results. The
// archive walkers write through these and need not know which.
#pragma once

#include <cstdint>
#include <memory>

#include "catalogue/image_summary.h"
#include "walk/walk_results.h"
#include "zip/zip_reader.h"

struct OpenArchive;

struct WalkSink {
  WalkResults* results;  // null: the job ring
};

// A message for standard error; the text carries its own "imgchk: " and
// newline.
void sink_message(WalkSink sink, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A -pzc comment line for standard output.
void sink_comment_line(WalkSink sink, const char* display_name, const char* comment);

// An image whose summary is already made.
void sink_summarised_image(WalkSink sink, const char* name, const ImageSummary& summary);

// A zip entry that passed zip_prepare_extraction: a job for the ring, or,
// in results, summarised here and now (or its uncompress message).
void sink_entry_image(WalkSink sink, const char* name, const std::shared_ptr<OpenArchive>& archive,
                      const ZipExtraction& extraction);
