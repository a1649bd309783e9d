// imgchk: catalogues ROM images given as files, directories and zip archives.
#include <unistd.h>

#include <cstdio>

#include "catalogue/ordering.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "driver/options.h"
#include "report/listing.h"
#include "report/progress.h"
#include "walk/messages.h"
#include "walk/path_walker.h"
#ifdef IMGCHK_TEST_HOOKS
#include "driver/test_hooks.h"
#endif

namespace {

// The listing is written in many small pieces; one large buffer keeps it to
// a few writes, also on a terminal.
char output_buffer[1 << 16];

constexpr int progress_delay_ms = 1000;

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

// Counts the images the catalogue took in since `newest_before` was its
// newest record.
void count_new_images(const RomEntry* newest_before) {
  for (const RomEntry* rom = g_rom_list; rom != nullptr && rom != newest_before; rom = rom->next) {
    progress_image_done(rom->size);
  }
}

// -pzc writes comments to standard output while walking; on the terminal
// that shows the status line they would share its row.
bool status_line_wanted() { return !(g_mode == RunMode::Pzc && isatty(STDOUT_FILENO) == 1); }

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  int first_path = 0;
  switch (read_options(argc, argv, &first_path)) {
    case OptionsOutcome::Walk: break;
    case OptionsOutcome::ExitOk: return finish_output();
    case OptionsOutcome::UsageError: return 1;
  }
  int delay_ms = progress_delay_ms;
#ifdef IMGCHK_TEST_HOOKS
  delay_ms = read_test_hooks({progress_delay_ms}).progress_delay_ms;
#endif
  if (status_line_wanted()) progress_start(delay_ms);
  for (int i = first_path; i < argc; ++i) {
    const RomEntry* newest_before = g_rom_list;
    progress_set_path(argv[i]);
    scan_path(argv[i]);
    count_new_images(newest_before);
  }
  progress_stop();
  finish_run();
  return finish_output();
}
