// The cache file: a SQLite database of one row per file read, keyed by the
// file's device and inode, with its size and times checked.
// One connection, used by the walking thread and by a thread that writes
// the rows, in turn (the functions below are the walking thread's).
#pragma once

#include <cstdint>
#include <string>

#include "cache/cache_problem.h"
#include "cache/file_key.h"

// Opens (creating it, mode 0600, when missing) the cache at `path` for a run
// that started at `now_seconds`, and drops rows no run has seen for 90 days.
// False, with the problem, when the file cannot be used; the file is then
// left as it was.
bool open_cache_database(const char* path, int64_t now_seconds, CacheProblem& problem);

// Writes what is pending (the times rows were seen) and closes; safe to call
// when nothing is open.
void close_cache_database();

// Whether the cache had rows of files on `device` when it was opened: a file
// on any other cannot be a hit, and need not be looked up (nor its status
// taken) on a collection's first run.
bool cache_may_know_device(uint64_t device);

struct CacheRow {
  uint32_t digests;     // DigestBits the row's images hold
  std::string results;  // encode_cached_results' bytes
};

enum class CacheLookup { Miss, Hit, Unusable };

// The row of the file with `key`, if its size and both times match.
// A hit marks the row seen by this run. Unusable after a read problem (see
// take_cache_problem); the cache is closed then.
CacheLookup find_cache_row(const FileKey& key, CacheWalk walk, CacheRow& row);

// Writes the file's row, replacing any older row of the same device and
// inode: whole, in one transaction with the rows stored shortly before it
// (within a quarter second), at the latest when the cache is closed; the
// writing thread does it while the walk goes on. Skipped when another run
// holds the database past the busy timeout, and after a write problem,
// which closes the cache to writing only.
void store_cache_row(const FileKey& key, CacheWalk walk, CacheRow&& row);

// The first problem since the cache was opened, once: true only the first
// time there is one to tell.
bool take_cache_problem(CacheProblem& problem);

// A seam for tests: when not negative, the process kills itself (SIGKILL)
// in the middle of committing the row with this number (0 for the first
// row this run writes), to show that the cache survives.
extern int64_t g_kill_while_writing_row;

// A seam for tests: when positive, the database may grow to at most this
// many pages, so that writing fails as on a full disk.
extern int64_t g_cache_page_limit;
