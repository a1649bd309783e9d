// The walk's seams for tests, in one place: nothing in a normal run sets
// them, and each is read only where a test needs to reach in.
#pragma once

#include <cstdint>

// When set, called with each path just before it is opened, so that a test
// can change the file system between reading a directory and opening its
// entries.
extern void (*g_before_opening_path)(const char* path);

// Counted for tests, which read it to see that a file the cache knows is not
// opened: how many paths the walk opened that were not directories.
extern uint64_t g_files_opened;
