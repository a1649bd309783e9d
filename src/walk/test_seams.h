// The walk's seams for tests, in one place: nothing in a normal run sets
// them, and each is read only where a test needs to reach in.
#pragma once

#include <cstdint>

// The order in which workers take jobs; the output must not depend on it.
// Reverse and Random take jobs only once the ring is full (or the walk is
// finishing): newest first, or by a generator seeded with g_job_order_seed.
enum class JobOrder { Fifo, Reverse, Random };
extern JobOrder g_job_order;
extern uint32_t g_job_order_seed;

// When not negative, how many more worker threads may start; after those,
// starting one fails as pthread_create may, and the run goes on without it.
extern int g_worker_starts_left;

// When set, called with each path just before it is opened, so that a test
// can change the file system between reading a directory and opening its
// entries.
extern void (*g_before_opening_path)(const char* path);

// Counted for tests, which read it to see that a file the cache knows is not
// opened: how many paths the walk opened that were not directories.
extern uint64_t g_files_opened;
