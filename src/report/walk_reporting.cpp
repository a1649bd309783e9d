#include "report/walk_reporting.h"

#include <atomic>
#include <cstdio>

#include "report/json_listing.h"
#include "report/messages.h"
#include "report/progress.h"

namespace {

void print_comment_line(const char* archive_name, const char* comment) {
  // The comment is printed raw, up to its first NUL.
  std::printf("%s: %s\n", archive_name, comment);
}

std::atomic<bool> g_had_failures{false};
std::vector<Provenance> g_failure_origins;  // written by the thread that reports, read after the walk

void write_and_count_failure(const WalkFailure& failure) {
  g_had_failures.store(true, std::memory_order_relaxed);
  if (failure.origin != nullptr) g_failure_origins.push_back(*failure.origin);
  write_walk_failure(failure);
}

void write_and_keep_failure(const WalkFailure& failure) {
  write_and_count_failure(failure);
  keep_failure_for_json(failure);
}

void write_and_count_changed(const char* name) {
  g_had_failures.store(true, std::memory_order_relaxed);
  write_changed_in_place(name);
}

}  // namespace

WalkObserver reporting_walk_observer(bool json) {
  if (json) return {progress_set_path, progress_image_done, write_and_keep_failure, print_json_comment};
  return {progress_set_path, progress_image_done, write_and_count_failure, print_comment_line};
}

CacheObserver reporting_cache_observer() {
  return {write_cache_not_used, write_and_count_changed};
}

bool walk_had_failures() {
  return g_had_failures.load(std::memory_order_relaxed);
}

const std::vector<Provenance>& walk_failure_origins() {
  return g_failure_origins;
}
