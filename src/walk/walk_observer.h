// What the walk tells the layers above it, in walk order, through functions
// the driver installs: the walk itself writes nothing, so that the status
// line, the messages and the listing's forms all live above it.
#pragma once

#include <cstdint>

#include "cache/cache_problem.h"
#include "walk/walk_failure.h"

// Any of these may be null: that news is then dropped.
struct WalkObserver {
  void (*image_started)(const char* name);  // the walker reached it; any thread may still read it
  void (*image_done)(uint64_t size);        // summarised and admitted (or counted as skipped)
  void (*failure)(const WalkFailure& failure);
  void (*archive_comment)(const char* archive_name, const char* comment);  // -pzc
  void (*cache_not_used)(const char* cache_path, CacheProblem problem);    // at most once a run
  void (*changed_in_place)(const char* name);                              // --recheck: new bytes, same key
};

// Set before the walk starts; read by the walker's thread only.
extern WalkObserver g_walk_observer;
