// imgchk: catalogues ROM images given as files, directories and archives of
// every kind it reads, nested in any order; audits them against DATs.
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "cache/cache_location.h"
#include "cache/cache_observer.h"
#include "cache/cache_replay.h"
#include "cache/file_cache.h"
#include "catalogue/ordering.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "catalogue/sum_plan.h"
#include "catalogue/summariser.h"
#include "driver/audit_run.h"
#include "driver/interruption.h"
#include "driver/options.h"
#include "driver/rebuild_run.h"
#include "driver/run_settings.h"
#include "jobs/commit_consumer.h"
#include "jobs/image_jobs.h"
#include "jobs/walk_observer.h"
#include "report/json_listing.h"
#include "report/listing.h"
#include "report/messages.h"
#include "report/progress.h"
#include "report/walk_reporting.h"
#include "walk/exclusion.h"
#include "walk/path_walker.h"
#include "walk/walk_output.h"
#ifdef IMGCHK_TEST_HOOKS
#include "driver/test_hooks.h"
#endif

namespace {

// The listing is written in many small pieces; one large buffer keeps it to
// a few writes, also on a terminal.
char output_buffer[1 << 16];

constexpr int progress_delay_ms = 1000;

// Memory whose size comes from the input is asked for without throwing, and
// its lack fails that one item. Anything else (a record, a name, a job, a
// digest context) is small: when even that fails, the run cannot go on and
// ends here, instead of an exception unwinding through it. Written straight
// to standard error.
[[noreturn]] void end_run_out_of_memory() {
  write_out_of_memory_now();
  std::_Exit(1);
}

// Every image is digested; without SHA-256 nothing can be compared.
bool has_digest_algorithm(RunMode mode) {
  if (mode == RunMode::Pzc || is_sha256_available()) return true;
  write_digest_unavailable();
  return false;
}

// False when a DAT asked for could not be written; *lacking when the audit
// found a required ROM not in place.
bool finish_run(const RunSettings& settings, const SumPlan& plan, Catalogue& catalogue, const AuditState& audit,
                const RebuildState& rebuild, char* const* paths, int path_count, bool* lacking) {
  *lacking = false;
  if (plan.mode == RunMode::Pzc) {
    if (settings.json) print_json_failures();
    return true;
  }
  build_sorted_index(catalogue);
  if (is_auditing(settings)) {
    return finish_audit(settings, catalogue, plan.digests, audit, rebuild, paths, path_count, lacking);
  }
  // In JSON each image says whether its group has a collision.
  mark_duplicates(catalogue, settings.json ? nullptr : print_collision);
  if (settings.json) {
    print_json_report(catalogue, plan.mode);
  } else {
    print_report(catalogue, plan.mode);
  }
  return finish_audit(settings, catalogue, plan.digests, audit, rebuild, paths, path_count, lacking);
}

// The audit's exit status adds 2 for a required ROM not in place and 4 for
// anything that could not be read; the listing only the 4, with --strict.
int run_status(const RunSettings& settings, bool lacking) {
  int status = lacking ? 2 : 0;
  if (walk_had_failures() && (is_auditing(settings) || settings.strict)) status += 4;
  return status;
}

// A listing cut short by a full disk or a closed pipe must not pass for a
// complete one.
int finish_output() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  write_output_error();
  return 1;
}

// -pzc writes comments to standard output while walking; on the terminal
// that shows the status line they would share its row.
bool status_line_wanted(RunMode mode) {
  return !(mode == RunMode::Pzc && isatty(STDOUT_FILENO) == 1);
}

// The catalogue's consumer: each admitted image into the catalogue it is
// given.
void admit_image(void* catalogue, const Provenance& origin, const ImageSummary& summary, bool admitted,
                 const AuditDigests* audit) {
  add_summarised_rom(*static_cast<Catalogue*>(catalogue), origin, summary, admitted, audit);
}

int64_t now_ns() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// --cache without a FILE: the user's cache folder, made when missing.
void start_cache(const RunSettings& settings, const SumPlan& plan, int64_t run_start_ns) {
  if (!settings.cache_wanted) return;
  if (settings.cache_file[0] != '\0') {
    start_file_cache(settings.cache_file, settings.recheck, run_start_ns, plan);
    return;
  }
  const std::string path = default_cache_path(std::getenv("XDG_CACHE_HOME"), std::getenv("HOME"));
  if (path.empty()) {
    write_cache_not_used("~/.cache/imgchk/cache.sqlite", CacheProblem::NoHome);
    return;
  }
  if (!make_cache_folders(path)) {
    write_cache_not_used(path.c_str(), CacheProblem::CannotOpen);
    return;
  }
  start_file_cache(path.c_str(), settings.recheck, run_start_ns, plan);
}

}  // namespace

int main(int argc, char** argv) {
  std::set_new_handler(end_run_out_of_memory);
  watch_for_interruption();
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  RunSettings settings;
  int first_path = 0;
  switch (read_options(argc, argv, settings, &first_path)) {
    case OptionsOutcome::Walk:
      break;
    case OptionsOutcome::ExitOk:
      return finish_output();
    case OptionsOutcome::UsageError:
      return 1;
  }
  // The patterns are read by the walk from its own room.
  for (const char* pattern : settings.excluded) add_excluded_pattern(pattern);
  if (settings.worker_count == 0) settings.worker_count = default_worker_count();
  if (!has_digest_algorithm(settings.mode)) return 1;
  // Every DAT is read before any path, so a bad one ends the run at once;
  // the DATs decide which digests the run takes.
  AuditState audit;
  RebuildState rebuild;
  DigestPlan digests;
  if (!prepare_audit(settings.audit, audit, digests) || !prepare_rebuild(settings.rebuild, rebuild)) return 1;
  const int64_t run_start_ns = now_ns();
  int delay_ms = progress_delay_ms;
#ifdef IMGCHK_TEST_HOOKS
  delay_ms = read_test_hooks({progress_delay_ms}).progress_delay_ms;
  read_job_order_hook();
  read_worker_starts_hook();
  read_stall_hook();
  read_cache_hooks();
  read_rebuild_hooks();
#endif
  g_walk_observer = reporting_walk_observer(settings.json);
  g_cache_observer = reporting_cache_observer();
  start_cache(settings, SumPlan{settings.mode, digests, false}, run_start_ns);
  // What the run sums, for the walk, the ring, the cache and the report: a
  // run with the cache takes every sum, so that a row serves every mode.
  const SumPlan plan{settings.mode, digests, is_file_cache_on()};
  // The walk hands what it finds to the job ring, and asks the cache first.
  g_walk_output = job_ring_output(plan);
  g_walk_cache = file_cache_hooks();
  // Each committed result: recorded for the cache, admitted to the
  // catalogue (-pzc catalogues nothing), then shown.
  install_commit_consumer(
      CommitConsumer{nullptr, record_image, record_failure, record_comment, begin_recording, end_recording});
  Catalogue catalogue;
  if (plan.mode != RunMode::Pzc) {
    install_commit_consumer(CommitConsumer{&catalogue, admit_image, nullptr, nullptr, nullptr, nullptr});
  }
  install_commit_consumer(observer_consumer());
  if (status_line_wanted(plan.mode)) progress_start(delay_ms);
  start_image_workers(settings.worker_count);
  // The rebuild's output folder is part of the collection: walked first, once.
  if (const char* out = rebuild_folder_to_walk(rebuild)) scan_path(out);
  for (int i = first_path; i < argc; ++i) {
    if (!is_rebuild_folder(rebuild, argv[i])) scan_path(argv[i]);
  }
  finish_image_jobs();
  finish_file_cache();
  stop_image_workers();
  progress_stop();
  bool lacking = false;
  const bool dats_written =
      finish_run(settings, plan, catalogue, audit, rebuild, argv + first_path, argc - first_path, &lacking);
#ifdef IMGCHK_TEST_HOOKS
  write_opened_count_hook();
#endif
  const int output_status = finish_output();
  if (!dats_written || output_status != 0) return 1;
  return run_status(settings, lacking);
}
