// The job ring's seams for tests: nothing in a normal run sets them.
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
