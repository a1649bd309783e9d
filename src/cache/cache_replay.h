// The path walker's side of the cache: a regular file looked up by its
// status before it is opened, and its row replayed in its place on a hit,
// through the walk's output as a reading of it would go.
#pragma once

#include <cstdint>

#include "base/opened_file.h"
#include "walk/cache_unit.h"
#include "walk/walk_output.h"

// Looks up the file `name` in `directory_fd` (AT_FDCWD for a command-line
// path), whose display name is `path`. `directory_device`, when the file is
// known to lie on it (a directory's plain file, not a link), spares the
// status of a file on a device the cache holds nothing of. True when the
// cache had it and its results were replayed through g_walk_output;
// otherwise `looked_up` holds what the lookup found (empty when it found no
// status), for the row written after reading.
bool replay_if_cached(int directory_fd, const char* name, const uint64_t* directory_device, const char* path,
                      CacheUnitHandle& looked_up);

// The unit a regular file's results are recorded under: its key as opened,
// which may differ from the one looked up when the file changed between.
CacheUnitHandle cache_unit_of_opened(CacheUnitHandle looked_up, const OpenedFile& opened);

// The three above as the walk's cache hooks.
WalkCacheHooks file_cache_hooks();
