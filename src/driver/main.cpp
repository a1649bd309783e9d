// imgchk: catalogues ROM images given as files, directories and zip archives.
#include <cstdio>

#include "catalogue/ordering.h"
#include "catalogue/run_mode.h"
#include "driver/options.h"
#include "report/listing.h"
#include "walk/messages.h"
#include "walk/path_walker.h"

namespace {

// The listing is written in many small pieces; one large buffer keeps it to
// a few writes, also on a terminal.
char output_buffer[1 << 16];

void finish_run() {
  if (g_mode == RunMode::Pzc) return;
  build_sorted_index();
  mark_duplicates();
  print_report();
}

// A listing cut short by a full disk or a closed pipe must not pass for a
// complete one.
int finish_output() {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
  report_failure("imgchk: write error on standard output\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  int first_path = 0;
  switch (read_options(argc, argv, &first_path)) {
    case OptionsOutcome::Walk: break;
    case OptionsOutcome::ExitOk: return finish_output();
    case OptionsOutcome::UsageError: return 1;
  }
  for (int i = first_path; i < argc; ++i) scan_path(argv[i]);
  finish_run();
  return finish_output();
}
