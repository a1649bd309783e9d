// Images as jobs: the walkers hand each image over in walk order, worker
// threads read and summarise them in any order, and the results (records
// and failures) are committed in walk order, so that a run's output does
// not depend on the number of threads or on which job finishes first.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/archive_kind.h"
#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "catalogue/sum_plan.h"
#include "walk/cache_unit.h"
#include "walk/open_archive.h"
#include "walk/walk_failure.h"
#include "walk/walk_output.h"
#include "walk/walk_results.h"
#include "zip/zip_extract.h"

// Starts up to `count` worker threads; with fewer than 2, or before this is
// called, every job runs at once on the walking thread. If threads cannot
// be created, the run goes on with those that could (or none).
void start_image_workers(int count);

// The file's first `size` bytes as the image `origin`; the job takes the
// descriptor over. With a cache unit, its result is the file's row.
void submit_file_image(const Provenance& origin, int fd, uint64_t size, CacheUnitHandle unit = {});

// An entry that passed zip_prepare_extraction, as the image `origin`.
void submit_entry_image(const Provenance& origin, const std::shared_ptr<OpenArchive>& archive,
                        const ZipExtraction& extraction);

// An image summarised already (read in order from an archive on the
// walking thread), committed in its place.
void submit_summarised_image(const Provenance& origin, const ImageSummary& summary, bool admitted,
                             const AuditDigests* audit);

// Walks an archive file in order on a worker, into `results`; the ring
// commits them in the job's place. The walk takes the descriptor over.
void submit_ordered_walk(const Provenance& origin, int fd, uint64_t size, ArchiveKind kind, OrderedWalk walk);

// A zip archive's comment for -pzc, handed to the consumers in its place in
// walk order, as failures are. The comment is copied.
void submit_archive_comment(const Provenance& archive, const char* comment);

// Marks where one file's results begin and end in walk order, so that they
// are recorded for the cache as they are committed (the consumers' file_start
// and file_end).
void begin_cache_unit(const Provenance& file, CacheUnitHandle unit);
void end_cache_unit();

// A failure of the walk, handed to the consumers in its place in walk
// order: at once, or after the images before it, when worker threads are
// still reading them. Its origin is copied.
void report_failure(const WalkFailure& failure);

// Waits for every job and commits what is left; the walk is over.
void finish_image_jobs();

// Stops the workers; for the end of the run.
void stop_image_workers();

// The walk's output into this ring, reading as image_reading.h does; the
// ring's jobs and the walk sum what `plan` says. Before the walk starts.
WalkOutput job_ring_output(const SumPlan& plan);
