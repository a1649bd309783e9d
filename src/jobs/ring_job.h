// A job of the ring, and what the ring does with one: run it on a worker,
// commit it on the walking thread. Private to the ring's files.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/archive_kind.h"
#include "base/provenance.h"
#include "catalogue/audit_digests.h"
#include "catalogue/image_summary.h"
#include "catalogue/sum_plan.h"
#include "jobs/image_jobs.h"
#include "walk/cache_unit.h"
#include "walk/walk_failure.h"
#include "walk/walk_results.h"
#include "zip/zip_extract.h"
#include "zip/zip_reader.h"

// Failure, Comment and Summarised jobs are done when submitted; an
// WalkInOrder job walks a whole archive into its results.
// UnitStart and UnitEnd bound one file's results, for the cache.
enum class JobKind : uint8_t { File, Entry, Summarised, WalkInOrder, Failure, Comment, UnitStart, UnitEnd };
enum class JobState : uint8_t { Pending, Running, Done };

struct Job {
  JobKind kind = JobKind::Failure;
  JobState state = JobState::Done;
  bool succeeded = false;
  bool admitted = false;                      // by the run mode's size filter, asked once
  const SumPlan* plan = nullptr;              // the ring's, for jobs that read images
  Provenance origin;                          // the image's, the failure's, or the archive's
  std::unique_ptr<char[]> comment;            // Comment: the archive's comment
  WalkFailure failure{};                      // Failure: of `origin`
  ZipFailure zip_failure = ZipFailure::None;  // Entry: why it could not be read
  int fd = -1;
  uint64_t size = 0;
  std::shared_ptr<OpenArchive> archive;
  ZipExtraction extraction{};
  ImageSummary summary{};
  AuditDigests audit{};  // when the run takes audit digests
  ArchiveKind archive_kind = ArchiveKind::None;
  OrderedWalk walk = nullptr;
  WalkResults results;   // WalkInOrder: what the walk found, in order
  CacheUnitHandle unit;  // UnitStart, or a File read for the cache
};

// Reads and summarises the job's image (or walks its archive), on a worker.
void run_job(Job& job);

// Hands the job's results to the installed consumers, in walk order, and
// lets go of what it held.
void commit_job(Job& job);
