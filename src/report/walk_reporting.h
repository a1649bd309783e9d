// What the report layer does with the walk's news: the status line, the
// messages, and the -pzc comments, as text or as JSON Lines.
#pragma once

#include "walk/walk_observer.h"

// With `json`, failures are also kept for the JSON listing.
WalkObserver reporting_walk_observer(bool json);

// Whether a path or entry could not be read, or --recheck found bytes that
// changed, so far in the run; for the exit status.
bool walk_had_failures();
