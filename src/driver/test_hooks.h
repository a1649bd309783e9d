// Settings only the test build of the program takes from its environment;
// the real program reads no environment variable.
#pragma once

struct TestHooks {
  int progress_delay_ms;  // IMGCHK_TEST_PROGRESS_DELAY_MS; 0 draws at once
};

// IMGCHK_TEST_JOB_ORDER: "reverse", or "random:SEED", the order in which
// workers take jobs (see jobs/job_seams.h); the output must not change.
void read_job_order_hook();

// IMGCHK_TEST_WORKER_STARTS: how many worker threads may start; the next
// start fails, as when the system has no more threads to give.
void read_worker_starts_hook();
// IMGCHK_TEST_STALL_AT: a path at which the walk stops for good just before
// opening it, the images before it read, so that a test can interrupt a run
// in the middle without racing it.
void read_stall_hook();

// The hooks from the environment; each one not set keeps its value in
// `defaults`.
TestHooks read_test_hooks(const TestHooks& defaults);

// IMGCHK_TEST_KILL_WHILE_WRITING_ROW: the cache row in whose commit the run
// kills itself; IMGCHK_TEST_CACHE_PAGE_LIMIT: the most pages the cache may
// grow to, as if the disk were full (see cache/cache_database.h);
// IMGCHK_TEST_CACHE_RECENT_MS: how recent a file's times may be for its row
// to be stored (see cache/file_cache.h), 0 to 3,600,000.
void read_cache_hooks();

// IMGCHK_TEST_FILE_SIZE_LIMIT: the most bytes a file the rebuild writes may
// hold, as if the disk were full past them. IMGCHK_TEST_PAUSE_REBUILD_SET:
// a set in whose first ROM poured the run stops for good, a file half
// written, after making the file IMGCHK_TEST_PAUSE_READY_FILE; with
// IMGCHK_TEST_PAUSE_UNTIL_GONE set too, only until the test removes that
// file (so that it can change sources in the middle of a run).
void read_rebuild_hooks();

// IMGCHK_TEST_OPENED_COUNT_FILE: a file to write, at the end of the run, how
// many files the walk opened (not directories), as a decimal number.
void write_opened_count_hook();
