// The walk's use of the cache: one row per regular file the walk reads (a
// loose image, or an archive file with everything in it), looked up before
// the file is opened and written once its results are committed.
#pragma once

#include <cstdint>
#include <memory>

#include "cache/cached_results.h"
#include "cache/file_key.h"
#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "catalogue/sum_plan.h"
#include "walk/cache_unit.h"
#include "walk/walk_failure.h"

// Opens the cache at `path` for a run that started at `run_start_ns` and
// sums what `plan` says; a problem goes to g_cache_observer, and the run
// goes on without the cache. With `recheck`, every file is read and
// compared with its row instead. When the cache is on, the run must take
// every sum (SumPlan::takes_every_sum): ask is_file_cache_on.
void start_file_cache(const char* path, bool recheck, int64_t run_start_ns, const SumPlan& plan);

// Writes what is pending and closes the cache; safe without a start.
void finish_file_cache();

bool is_file_cache_on();

// The plan the cache was started with, every sum taken when it is on.
const SumPlan& file_cache_plan();

// False when no file on `device` can be in the cache (see cache_database.h).
bool may_be_cached_on(uint64_t device);

// One file's business with the cache, from lookup to the row written.
struct CacheUnit {
  FileKey key;
  CacheWalk walk;
  bool has_row;       // a row of this key was found
  CachedResults row;  // its results, valid and checked
};

// A unit of no key and no row, for the walk and the ring to carry.
CacheUnitHandle new_cache_unit();

// Looks the file up. True when its row stands for reading it: `unit.row`
// then holds what to replay. False when the file must be read (no row, a
// row lacking a digest the run needs, --recheck), with `unit.has_row` set
// when a row of the same key was found.
bool find_cached_file(CacheUnit& unit);

// The summary an image of the row has in this run's mode, and its audit
// digests as this run takes them.
ImageSummary summary_in_run_mode(const CachedImage& image);
AuditDigests audit_in_run(const CachedImage& image);

// The failure an item of the row stands for, of `origin`.
WalkFailure failure_of_item(const CachedItem& item, const Provenance& origin);

// The place an item of the row stands for, in the file `file` as it is now.
Provenance origin_of_item(const CachedItem& item, const Provenance& file);

// Results as the ring commits them, in walk order: between begin and end
// they are gathered, and at the end written as the file's row (unless its
// modification time is too recent to trust, or a failure was one that may
// pass). Outside a unit they do nothing; what lies outside the unit's file
// keeps the row from being written.
// They take what the job ring hands its consumers (commit_consumer.h), of
// no context; `admitted` does not matter to a row.
void begin_recording(void* context, const Provenance& file, CacheUnitHandle unit);
void record_image(void* context, const Provenance& origin, const ImageSummary& summary, bool admitted,
                  const AuditDigests* audit);
void record_failure(void* context, const WalkFailure& failure);
void record_comment(void* context, const Provenance& archive, const char* comment);
void end_recording(void* context);

// How shortly before the run a file's modification or status change keeps
// it from being stored: 2 seconds. A seam for tests, whose files are all
// new: they set it to 0, or to an hour.
extern int64_t g_untrusted_recent_ns;
