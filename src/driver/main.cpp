// imgchk: catalogues ROM images given as files, directories and zip archives.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "catalogue/ordering.h"
#include "catalogue/run_mode.h"
#include "catalogue/summariser.h"
#include "driver/options.h"
#include "report/json_listing.h"
#include "report/listing.h"
#include "report/messages.h"
#include "report/progress.h"
#include "report/walk_reporting.h"
#include "walk/image_jobs.h"
#include "walk/path_walker.h"
#include "walk/walk_observer.h"
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
bool has_digest_algorithm() {
  if (g_mode == RunMode::Pzc || is_sha256_available()) return true;
  write_digest_unavailable();
  return false;
}

void finish_run() {
  if (g_mode == RunMode::Pzc) {
    if (g_json_output) print_json_failures();
    return;
  }
  build_sorted_index();
  // In JSON each image says whether its group has a collision.
  mark_duplicates(!g_json_output);
  if (g_json_output) {
    print_json_report();
  } else {
    print_report();
  }
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
bool status_line_wanted() {
  return !(g_mode == RunMode::Pzc && isatty(STDOUT_FILENO) == 1);
}

}  // namespace

int main(int argc, char** argv) {
  std::set_new_handler(end_run_out_of_memory);
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  int first_path = 0;
  switch (read_options(argc, argv, &first_path)) {
    case OptionsOutcome::Walk:
      break;
    case OptionsOutcome::ExitOk:
      return finish_output();
    case OptionsOutcome::UsageError:
      return 1;
  }
  if (!has_digest_algorithm()) return 1;
  int delay_ms = progress_delay_ms;
#ifdef IMGCHK_TEST_HOOKS
  delay_ms = read_test_hooks({progress_delay_ms}).progress_delay_ms;
  read_job_order_hook();
  read_worker_starts_hook();
#endif
  g_walk_observer = reporting_walk_observer(g_json_output);
  if (status_line_wanted()) progress_start(delay_ms);
  start_image_workers(g_worker_count != 0 ? g_worker_count : default_worker_count());
  for (int i = first_path; i < argc; ++i) scan_path(argv[i]);
  finish_image_jobs();
  stop_image_workers();
  progress_stop();
  finish_run();
  return finish_output();
}
