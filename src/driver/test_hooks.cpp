// Compiled only into imgchk_test_hooks.
#include "driver/test_hooks.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache/cache_database.h"
#include "cache/file_cache.h"
#include "driver/image_sources.h"
#include "jobs/job_seams.h"
#include "rebuild/file_output.h"
#include "walk/test_seams.h"

namespace {

// A non-negative number from the environment, or `fallback`.
int environment_number(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 0 || value > 3600000) return fallback;
  return static_cast<int>(value);
}

const char* g_stall_path = nullptr;

void stall_at_chosen_path(const char* path) {
  if (std::strcmp(path, g_stall_path) != 0) return;
  for (;;) pause();
}

const char* g_pause_set = nullptr;

// With IMGCHK_TEST_PAUSE_UNTIL_GONE, the pause ends once the test has
// removed the ready file (it changed files meanwhile), and comes no more.
void pause_in_chosen_set(const char* set_name) {
  if (g_pause_set == nullptr || std::strcmp(set_name, g_pause_set) != 0) return;
  const char* ready = std::getenv("IMGCHK_TEST_PAUSE_READY_FILE");
  if (ready != nullptr) {
    if (std::FILE* file = std::fopen(ready, "w")) std::fclose(file);
  }
  if (ready == nullptr || std::getenv("IMGCHK_TEST_PAUSE_UNTIL_GONE") == nullptr) {
    for (;;) pause();
  }
  while (access(ready, F_OK) == 0) usleep(1000);
  g_pause_set = nullptr;
}

}  // namespace

TestHooks read_test_hooks(const TestHooks& defaults) {
  TestHooks hooks = defaults;
  hooks.progress_delay_ms = environment_number("IMGCHK_TEST_PROGRESS_DELAY_MS", defaults.progress_delay_ms);
  return hooks;
}

void read_worker_starts_hook() {
  g_worker_starts_left = environment_number("IMGCHK_TEST_WORKER_STARTS", -1);
}

void read_job_order_hook() {
  const char* order = std::getenv("IMGCHK_TEST_JOB_ORDER");
  if (order == nullptr) return;
  if (std::strcmp(order, "reverse") == 0) g_job_order = JobOrder::Reverse;
  if (std::strncmp(order, "random:", 7) == 0) {
    g_job_order = JobOrder::Random;
    g_job_order_seed = static_cast<uint32_t>(std::strtoul(order + 7, nullptr, 10));
  }
}

void read_stall_hook() {
  g_stall_path = std::getenv("IMGCHK_TEST_STALL_AT");
  if (g_stall_path != nullptr) g_before_opening_path = stall_at_chosen_path;
}

void read_cache_hooks() {
  g_kill_while_writing_row = environment_number("IMGCHK_TEST_KILL_WHILE_WRITING_ROW", -1);
  g_cache_page_limit = environment_number("IMGCHK_TEST_CACHE_PAGE_LIMIT", 0);
  const int recent_ms = environment_number("IMGCHK_TEST_CACHE_RECENT_MS", -1);
  if (recent_ms >= 0) g_untrusted_recent_ns = int64_t{recent_ms} * 1'000'000;
}

void write_opened_count_hook() {
  const char* path = std::getenv("IMGCHK_TEST_OPENED_COUNT_FILE");
  if (path == nullptr) return;
  if (std::FILE* file = std::fopen(path, "w")) {
    std::fprintf(file, "%llu\n", static_cast<unsigned long long>(g_files_opened));
    std::fclose(file);
  }
}

void read_rebuild_hooks() {
  const int limit = environment_number("IMGCHK_TEST_FILE_SIZE_LIMIT", -1);
  if (limit >= 0) set_file_size_limit_for_tests(static_cast<uint64_t>(limit));
  g_pause_set = std::getenv("IMGCHK_TEST_PAUSE_REBUILD_SET");
  if (g_pause_set != nullptr) g_after_rebuild_piece = pause_in_chosen_set;
}
