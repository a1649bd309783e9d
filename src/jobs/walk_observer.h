// What the job ring tells the layers above it of the walk, in walk order,
// through functions the driver installs: neither the walk nor the ring
// writes anything, so that the status line, the messages and the listing's
// forms all live above them. The cache's news go to cache_observer.h.
#pragma once

#include <cstdint>

#include "walk/walk_failure.h"

// Any of these may be null: that news is then dropped.
struct WalkObserver {
  void (*image_started)(const char* name);  // the walker reached it; any thread may still read it
  void (*image_done)(uint64_t size);        // summarised and admitted (or counted as skipped)
  void (*failure)(const WalkFailure& failure);
  void (*archive_comment)(const char* archive_name, const char* comment);  // -pzc
};

// Set before the walk starts; read by the walker's thread only.
extern WalkObserver g_walk_observer;
