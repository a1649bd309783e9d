// What the file cache tells the report layer, through functions the driver
// installs: the cache writes nothing itself.
#pragma once

#include "cache/cache_problem.h"

// Any of these may be null: that news is then dropped.
struct CacheObserver {
  void (*cache_not_used)(const char* cache_path, CacheProblem problem);  // at most once a run
  void (*changed_in_place)(const char* name);                            // --recheck: new bytes, same key
};

// Set before the walk starts; read by the walker's thread only.
extern CacheObserver g_cache_observer;
