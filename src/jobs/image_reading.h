// Reading one image, a plain file or an archive entry, and summarising it as
// its bytes pass through buffers that are reused from image to image.
#pragma once

#include <cstdint>

#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "catalogue/sum_plan.h"
#include "walk/walk_output.h"
#include "zip/zip_extract.h"
#include "zip/zip_failure.h"

struct ZipReader;
struct ZipExtraction;
struct ArchiveReader;
struct ArchiveEntryInfo;
struct ExpansionBudget;

// Each sums what `plan` says.
//
// Summarises the first `size` bytes of an open file. `digests` is whether
// the run mode admits the image: a refused one is read but not summed. False
// when the file cannot be read or ends early. When the run takes audit
// digests (the plan's), `audit` gets them.
bool summarise_file(const SumPlan& plan, int fd, uint64_t size, bool digests, ImageSummary& summary,
                    AuditDigests& audit);

// Summarises an archive entry that passed zip_prepare_extraction, checking
// its length and CRC-32. False when it cannot be unpacked, why in *failure
// when given.
bool summarise_entry(const SumPlan& plan, const ZipReader& reader, const ZipExtraction& extraction, bool digests,
                     ImageSummary& summary, AuditDigests& audit, ZipFailure* failure = nullptr);

// Summarises the current entry of a libarchive reader as it is read. An
// entry of known size must give exactly that many bytes (the caller has
// charged them to the budget); one whose size shows only at its end (a
// gzip image) is charged to `part` of `budget` as it comes. Unpacked, with
// whether the run mode admits it in `admitted`; Failed (the reason in the
// reader); or OverBudget (the budget is exhausted).
StreamOutcome summarise_archive_entry(const SumPlan& plan, ArchiveReader& reader, const ArchiveEntryInfo& info,
                                      ExpansionBudget& budget, uint64_t& part, ImageSummary& summary,
                                      AuditDigests& audit, bool& admitted);
