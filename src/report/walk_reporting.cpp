#include "report/walk_reporting.h"

#include <cstdio>

#include "report/json_listing.h"
#include "report/messages.h"
#include "report/progress.h"

namespace {

void print_comment_line(const char* archive_name, const char* comment) {
  // The comment is printed raw, up to its first NUL.
  std::printf("%s: %s\n", archive_name, comment);
}

void write_and_keep_failure(const WalkFailure& failure) {
  write_walk_failure(failure);
  keep_failure_for_json(failure);
}

}  // namespace

WalkObserver reporting_walk_observer(bool json) {
  if (json) {
    return {progress_set_path,  progress_image_done,  write_and_keep_failure,
            print_json_comment, write_cache_not_used, write_changed_in_place};
  }
  return {progress_set_path,  progress_image_done,  write_walk_failure,
          print_comment_line, write_cache_not_used, write_changed_in_place};
}
