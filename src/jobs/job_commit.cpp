// Running a job, and committing it: its results to the consumers.
#include <unistd.h>

#include <utility>

#include "jobs/commit_consumer.h"
#include "jobs/image_reading.h"
#include "jobs/ring_job.h"

void run_job(Job& job) {
  switch (job.kind) {
    case JobKind::File:
      job.succeeded = summarise_file(*job.plan, job.fd, job.size, job.admitted, job.summary, job.audit);
      close(job.fd);
      job.fd = -1;
      return;
    case JobKind::Entry:
      job.succeeded = summarise_entry(*job.plan, job.archive->archive.reader, job.extraction, job.admitted, job.summary,
                                      job.audit, &job.zip_failure);
      return;
    case JobKind::WalkInOrder:
      job.walk(job.origin, job.fd, job.size, job.archive_kind, job.results);
      job.fd = -1;  // the walk closed it
      return;
    case JobKind::Summarised:
    case JobKind::Failure:
    case JobKind::Comment:
    case JobKind::UnitStart:
    case JobKind::UnitEnd:
      return;
  }
}

namespace {

// The audit digests go on only when the run takes them.
void commit_results(WalkResults& results, const SumPlan& plan) {
  const bool audits = plans_audit_digests(plan.digests);
  for (WalkResult& result : results) {
    switch (result.kind) {
      case WalkResultKind::Image:
        hand_image(result.origin, result.summary, result.admitted, audits ? &result.audit : nullptr);
        break;
      case WalkResultKind::Failure:
        hand_failure(result.failure, result.origin);
        break;
      case WalkResultKind::Comment:
        hand_comment(result.origin, result.comment.get());
        break;
    }
  }
  WalkResults().swap(results);
}

// A loose image read for the cache carries its own unit: it is the file's
// one result.
void commit_read_image(Job& job) {
  const bool records = job.unit != nullptr;
  if (records) hand_file_start(job.origin, std::move(job.unit));
  if (job.succeeded) {
    const bool audits = plans_audit_digests(job.plan->digests);
    hand_image(job.origin, job.summary, job.admitted, audits ? &job.audit : nullptr);
  } else if (job.kind == JobKind::File) {
    hand_failure(failure_at(WalkMessage::ReadError, FailureReason::ReadError, job.origin), job.origin);
  } else {
    hand_failure(failure_at(WalkMessage::UncompressFailed, reason_of_zip_failure(job.zip_failure), job.origin),
                 job.origin);
  }
  if (records) hand_file_end();
}

}  // namespace

void commit_job(Job& job) {
  if (job.kind == JobKind::UnitStart) {
    hand_file_start(job.origin, std::move(job.unit));
  } else if (job.kind == JobKind::UnitEnd) {
    hand_file_end();
  } else if (job.kind == JobKind::Failure) {
    hand_failure(job.failure, job.origin);
  } else if (job.kind == JobKind::Comment) {
    hand_comment(job.origin, job.comment.get());
    job.comment.reset();
  } else if (job.kind == JobKind::WalkInOrder) {
    commit_results(job.results, *job.plan);
  } else {
    commit_read_image(job);
  }
  job.origin = Provenance{};
  job.archive.reset();  // the last job of an archive closes it, on this thread
}
