// The job ring: the walker submits into it in walk order, workers take
// pending jobs and mark them done, and the walker commits done jobs from the
// head of the ring, in order. The ring's size bounds what is under way: open
// files, archives held for their entries, results waiting for their turn.
#include "jobs/image_jobs.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue/rom_entry.h"
#include "jobs/commit_consumer.h"
#include "jobs/image_reading.h"
#include "jobs/job_seams.h"
#include "jobs/ring_job.h"
#include "jobs/walk_observer.h"
#include "zip/zip_extract.h"

WalkObserver g_walk_observer{};

namespace {

struct JobRing {
  std::mutex mutex;
  std::condition_variable work_ready;  // workers wait on it
  std::condition_variable job_done;    // the walker waits on it
  std::vector<Job> slots;              // empty: jobs run as they come
  uint64_t committed = 0;              // the oldest job not yet committed
  uint64_t submitted = 0;              // the next job's number
  uint64_t taken = 0;                  // in Fifo order, the next job to take
  bool finishing = false;
  bool stopping = false;
  // Waking a thread costs a system call: only those that sleep are woken.
  int sleeping_workers = 0;
  uint64_t planned_workers = 0;  // set before the first worker starts
  bool walker_sleeps = false;
  uint32_t random_state = 0;
  std::vector<pthread_t> threads;
  SumPlan plan;  // what every job sums; set before the walk
};

JobRing g_ring;

// At most this many jobs under way, whatever the number of workers. Jobs
// differ in size a thousandfold, so the ring must hold enough of them that
// one large image at its head does not leave the other workers idle. Each
// may hold an open file: see ring_size_within_open_file_limit.
constexpr size_t largest_ring_size = 256;
// Files the walk may hold open besides the jobs' own: the standard ones,
// the directories on the way down, an archive being walked.
constexpr uint64_t descriptors_kept_for_the_walk = 64;

std::unique_ptr<char[]> copy_text(const char* text, uint64_t size) {
  std::unique_ptr<char[]> copy(new char[size + 1]);
  std::memcpy(copy.get(), text, size);
  copy[size] = '\0';
  return copy;
}

Job image_job(JobKind kind, const Provenance& origin, uint64_t size) {
  Job job;
  job.kind = kind;
  job.state = JobState::Pending;
  job.plan = &g_ring.plan;
  job.admitted = is_admitted_size(g_ring.plan.mode, size);
  job.origin = origin;
  return job;
}

Job& slot_of(uint64_t number) {
  return g_ring.slots[number % g_ring.slots.size()];
}

// Commits the done jobs at the head of the ring, in order. Only the walker
// commits, and no worker touches a done job, so the lock can be let go
// meanwhile.
void commit_done_jobs(std::unique_lock<std::mutex>& lock) {
  while (g_ring.committed < g_ring.submitted && slot_of(g_ring.committed).state == JobState::Done) {
    Job& job = slot_of(g_ring.committed);
    lock.unlock();
    commit_job(job);
    lock.lock();
    ++g_ring.committed;
  }
}

bool ring_is_full() {
  return g_ring.submitted - g_ring.committed == g_ring.slots.size();
}

// The next job for a worker, or null. Tests can have jobs taken newest first
// or at random, once the ring is full, to see that the output is the same.
Job* take_job() {
  if (g_job_order == JobOrder::Fifo) {
    // Failures in the ring are done from the start, and may be committed
    // and their slots reused before the workers pass them.
    if (g_ring.taken < g_ring.committed) g_ring.taken = g_ring.committed;
    while (g_ring.taken < g_ring.submitted) {
      Job& job = slot_of(g_ring.taken++);
      if (job.state == JobState::Pending) return &job;
    }
    return nullptr;
  }
  if (!ring_is_full() && !g_ring.finishing) return nullptr;
  std::vector<Job*> pending;
  for (uint64_t number = g_ring.committed; number < g_ring.submitted; ++number) {
    if (slot_of(number).state == JobState::Pending) pending.push_back(&slot_of(number));
  }
  if (pending.empty()) return nullptr;
  if (g_job_order == JobOrder::Reverse) return pending.back();
  g_ring.random_state = g_ring.random_state * 1103515245u + 12345u;
  return pending[(g_ring.random_state >> 8) % pending.size()];
}

// How many jobs a worker takes at once: one when few are waiting, so that
// the workers share them out, more when many are, so that small images do
// not cost a lock each.
size_t batch_size() {
  constexpr uint64_t largest_batch = 16;
  if (g_job_order != JobOrder::Fifo) return 1;
  const uint64_t waiting = g_ring.submitted - std::max(g_ring.taken, g_ring.committed);
  const uint64_t share = waiting / (2 * g_ring.planned_workers + 1);
  return static_cast<size_t>(std::clamp<uint64_t>(share, 1, largest_batch));
}

// Marks pending jobs Running into `batch`, as many as batch_size says. A
// whole archive walked in order ends a batch: archives batched together
// would leave the other workers idle at the end.
void take_batch(std::vector<Job*>& batch) {
  batch.clear();
  for (const size_t most = batch_size(); batch.size() < most;) {
    Job* job = take_job();
    if (job == nullptr) return;
    job->state = JobState::Running;
    batch.push_back(job);
    if (job->kind == JobKind::WalkInOrder) return;
  }
}

// Small images come faster than a sleeping thread wakes: a worker with
// nothing to do looks again this many times before it sleeps.
constexpr int looks_before_sleeping = 64;

void wait_for_work(std::unique_lock<std::mutex>& lock, int& idle_looks) {
  if (++idle_looks < looks_before_sleeping) {
    lock.unlock();
    sched_yield();
    lock.lock();
    return;
  }
  idle_looks = 0;
  ++g_ring.sleeping_workers;
  g_ring.work_ready.wait(lock);
  --g_ring.sleeping_workers;
}

// Runs the batch without the lock, and takes the lock back to mark it done.
void run_batch(std::unique_lock<std::mutex>& lock, const std::vector<Job*>& batch) {
  lock.unlock();
  for (Job* job : batch) run_job(*job);
  lock.lock();
  for (Job* job : batch) job->state = JobState::Done;
  if (g_ring.walker_sleeps) g_ring.job_done.notify_one();
}

void* work(void* /*unused*/) {
  std::unique_lock<std::mutex> lock(g_ring.mutex);
  std::vector<Job*> batch;
  int idle_looks = 0;
  for (;;) {
    take_batch(batch);
    if (!batch.empty()) {
      idle_looks = 0;
      run_batch(lock, batch);
      continue;
    }
    if (g_ring.stopping) return nullptr;
    wait_for_work(lock, idle_looks);
  }
}

void wait_for_a_done_job(std::unique_lock<std::mutex>& lock) {
  g_ring.walker_sleeps = true;
  g_ring.job_done.wait(lock);
  g_ring.walker_sleeps = false;
}

// A free slot at the tail of the ring, once the jobs before it allow.
Job& claim_slot(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    commit_done_jobs(lock);
    if (!ring_is_full()) return slot_of(g_ring.submitted);
    wait_for_a_done_job(lock);
  }
}

void submit(Job&& job) {
  if (g_walk_observer.image_started != nullptr) g_walk_observer.image_started(display_name(job.origin).c_str());
  if (g_ring.slots.empty()) {
    run_job(job);
    commit_job(job);
    return;
  }
  std::unique_lock<std::mutex> lock(g_ring.mutex);
  Job& slot = claim_slot(lock);
  slot = std::move(job);
  ++g_ring.submitted;
  if (g_ring.sleeping_workers == 0) return;
  if (slot.state == JobState::Pending) g_ring.work_ready.notify_one();
  if (ring_is_full()) g_ring.work_ready.notify_all();
}

bool start_worker(pthread_t& thread) {
  if (g_worker_starts_left == 0) return false;
  if (g_worker_starts_left > 0) --g_worker_starts_left;
  return pthread_create(&thread, nullptr, work, nullptr) == 0;
}

// Half of what the limit on open files leaves beside the walk's own, so
// that the jobs' open files never make an open fail.
size_t ring_size_within_open_file_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return largest_ring_size;
  const uint64_t open_files = limit.rlim_cur;
  const uint64_t room =
      open_files > descriptors_kept_for_the_walk ? (open_files - descriptors_kept_for_the_walk) / 2 : 0;
  return static_cast<size_t>(std::clamp<uint64_t>(room, 1, largest_ring_size));
}

}  // namespace

void start_image_workers(int count) {
  if (count < 2) return;
  const size_t ring_size = ring_size_within_open_file_limit();
  g_ring.slots.resize(ring_size);
  g_ring.random_state = g_job_order_seed;
  g_ring.planned_workers = static_cast<uint64_t>(count);
  for (int k = 0; k < count; ++k) {
    pthread_t thread{};
    if (!start_worker(thread)) break;
    g_ring.threads.push_back(thread);
  }
  if (g_ring.threads.empty()) g_ring.slots.clear();  // no thread: run jobs as they come
}

void submit_file_image(const Provenance& origin, int fd, uint64_t size, CacheUnitHandle unit) {
  Job job = image_job(JobKind::File, origin, size);
  job.unit = std::move(unit);
  job.fd = fd;
  job.size = size;
  submit(std::move(job));
}

void submit_entry_image(const Provenance& origin, const std::shared_ptr<OpenArchive>& archive,
                        const ZipExtraction& extraction) {
  Job job = image_job(JobKind::Entry, origin, extraction.uncompressed_size);
  job.archive = archive;
  job.extraction = extraction;
  submit(std::move(job));
}

void submit_summarised_image(const Provenance& origin, const ImageSummary& summary, bool admitted,
                             const AuditDigests* audit) {
  Job job = image_job(JobKind::Summarised, origin, summary.size);
  job.state = JobState::Done;
  job.succeeded = true;
  job.admitted = admitted;
  job.summary = summary;
  if (audit != nullptr) job.audit = *audit;
  submit(std::move(job));
}

void submit_ordered_walk(const Provenance& origin, int fd, uint64_t size, ArchiveKind kind, OrderedWalk walk) {
  Job job = image_job(JobKind::WalkInOrder, origin, size);
  job.fd = fd;
  job.size = size;
  job.archive_kind = kind;
  job.walk = walk;
  submit(std::move(job));
}

namespace {

// A failure or a comment: committed at once when nothing before it is
// waiting, else put in the ring as a done job.
void submit_news(Job&& job) {
  if (g_ring.slots.empty()) {
    commit_job(job);
    return;
  }
  std::unique_lock<std::mutex> lock(g_ring.mutex);
  commit_done_jobs(lock);
  if (g_ring.committed == g_ring.submitted) {  // nothing before it is waiting
    lock.unlock();
    commit_job(job);
    return;
  }
  Job& slot = claim_slot(lock);
  slot = std::move(job);
  ++g_ring.submitted;
}

}  // namespace

void submit_archive_comment(const Provenance& archive, const char* comment) {
  Job job;
  job.kind = JobKind::Comment;
  job.origin = archive;
  job.comment = copy_text(comment, std::strlen(comment));
  submit_news(std::move(job));
}

void begin_cache_unit(const Provenance& file, CacheUnitHandle unit) {
  Job job;
  job.kind = JobKind::UnitStart;
  job.origin = file;
  job.unit = std::move(unit);
  submit_news(std::move(job));
}

void end_cache_unit() {
  Job job;
  job.kind = JobKind::UnitEnd;
  submit_news(std::move(job));
}

void report_failure(const WalkFailure& failure) {
  Job job;
  job.origin = *failure.origin;
  job.failure = failure;
  job.failure.name = nullptr;
  job.failure.origin = nullptr;
  submit_news(std::move(job));
}

void finish_image_jobs() {
  if (g_ring.slots.empty()) return;
  std::unique_lock<std::mutex> lock(g_ring.mutex);
  g_ring.finishing = true;
  g_ring.work_ready.notify_all();
  for (;;) {
    commit_done_jobs(lock);
    if (g_ring.committed == g_ring.submitted) break;
    wait_for_a_done_job(lock);
  }
  g_ring.finishing = false;
}

void stop_image_workers() {
  {
    const std::lock_guard<std::mutex> lock(g_ring.mutex);
    g_ring.stopping = true;
    g_ring.work_ready.notify_all();
  }
  for (const pthread_t thread : g_ring.threads) pthread_join(thread, nullptr);
  g_ring.threads.clear();
  g_ring.slots.clear();
  g_ring.stopping = false;
}

WalkOutput job_ring_output(const SumPlan& plan) {
  g_ring.plan = plan;
  return WalkOutput{submit_file_image,
                    submit_entry_image,
                    submit_summarised_image,
                    submit_ordered_walk,
                    submit_archive_comment,
                    report_failure,
                    begin_cache_unit,
                    end_cache_unit,
                    summarise_entry,
                    summarise_archive_entry,
                    plan};
}
