// What the report layer does with the walk's news: the status line, the
// messages, and the -pzc comments, as text or as JSON Lines.
#pragma once

#include <vector>

#include "base/provenance.h"
#include "cache/cache_observer.h"
#include "jobs/walk_observer.h"

// With `json`, failures are also kept for the JSON listing.
WalkObserver reporting_walk_observer(bool json);

// The cache's news: a cache not used, and --recheck's changed files.
CacheObserver reporting_cache_observer();

// Whether a path or entry could not be read, or --recheck found bytes that
// changed, so far in the run; for the exit status.
bool walk_had_failures();

// Where each failure so far lies, in the order reported: the audit places
// them in sets.
const std::vector<Provenance>& walk_failure_origins();
