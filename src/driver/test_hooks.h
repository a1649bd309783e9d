// Settings only the test build of the program takes from its environment;
// the real program reads no environment variable.
#pragma once

struct TestHooks {
  int progress_delay_ms;  // IMGCHK_TEST_PROGRESS_DELAY_MS; 0 draws at once
};

// IMGCHK_TEST_JOB_ORDER: "reverse", or "random:SEED", the order in which
// workers take jobs (see walk/test_seams.h); the output must not change.
void read_job_order_hook();

// IMGCHK_TEST_WORKER_STARTS: how many worker threads may start; the next
// start fails, as when the system has no more threads to give.
void read_worker_starts_hook();

// The hooks from the environment; each one not set keeps its value in
// `defaults`.
TestHooks read_test_hooks(const TestHooks& defaults);
