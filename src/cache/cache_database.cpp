// The SQLite side of the cache. The database runs in write-ahead-log mode,
// so that a run reading it never waits for another one writing, and a run
// killed at any moment leaves the last committed rows whole. Each row goes
// whole into one transaction; rows are written together, a quarter second's
// worth at most, since a transaction of its own for each cost more than
// reading a small file (locks and log writes for every row). Lookups between
// writes share one read transaction, for the same reason. A write that
// cannot get the database within the busy timeout is skipped: those files
// are simply read again next time.
#include "cache/cache_database.h"

#include <pthread.h>
#include <signal.h>
#include <sqlite3.h>

#include <time.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "cache/cache_location.h"
#include "cache/cache_schema.h"

int64_t g_kill_while_writing_row = -1;
int64_t g_cache_page_limit = 0;

namespace {

constexpr int busy_timeout_ms = 2000;
// Rows wait in memory at most this long, or this many of them or bytes.
constexpr int64_t flush_interval_ns = 250'000'000;
constexpr size_t flush_rows = 1000;
constexpr size_t flush_bytes = size_t{8} << 20;
// Rows handed to the writer and not yet taken, at most.
constexpr size_t handed_rows_limit = 4 * flush_rows;
constexpr size_t handed_bytes_limit = 4 * flush_bytes;
// A hit rewrites the row's time seen only when it is older than this, so
// that a second run the same day writes nothing.
constexpr int64_t seen_resolution_seconds = 86400;

struct PendingRow {
  FileKey key;
  CacheWalk walk;
  CacheRow row;
};

// The connection and what goes with it are used by the walking thread and
// the writer, under the connection lock (`open`, `known_devices` and the
// rows gathered by the walking thread alone).
struct CacheDatabase {
  bool open = false;  // opened and not yet closed
  sqlite3* db = nullptr;
  sqlite3_stmt* find = nullptr;
  sqlite3_stmt* store = nullptr;
  sqlite3_stmt* mark_seen = nullptr;
  sqlite3_stmt* add_device = nullptr;
  std::vector<uint64_t> known_devices;  // those with rows when the cache was opened
  bool writable = false;
  bool has_problem = false;
  bool problem_told = false;
  CacheProblem problem = CacheProblem::Damaged;
  int64_t now_seconds = 0;
  bool reading = false;  // inside the read transaction between writes
  // Rows waiting to be written, and rows hit whose time seen is old.
  std::vector<PendingRow> pending;
  size_t pending_bytes = 0;
  int64_t last_flush_ns = 0;
  std::vector<FileKey> seen_keys;
  std::vector<CacheWalk> seen_walks;
  int64_t rows_written = 0;  // handed to SQLite so far
  bool kill_armed = false;
};

CacheDatabase g_cache;

// Rows go to SQLite on a thread of their own, so that the walk does not
// wait for their inserts: the walking thread gathers them and hands each
// batch over; the writer writes it under the connection lock, which a
// lookup takes too.
struct CacheWriter {
  std::mutex connection;
  std::mutex queue;               // for what follows
  std::condition_variable wake;   // rows handed over, or closing
  std::condition_variable taken;  // the writer took the rows handed over
  std::vector<PendingRow> handed;
  size_t handed_bytes = 0;
  bool closing = false;
  bool started = false;                    // the walking thread's: a thread runs
  std::atomic<bool> problem_noted{false};  // looked at without the lock, for every file
  pthread_t thread{};
};

CacheWriter g_writer;

bool execute(const char* sql, int& code) {
  return execute_sql(g_cache.db, sql, code);
}

void note_problem(CacheProblem problem) {
  if (g_cache.has_problem) return;
  g_cache.has_problem = true;
  g_cache.problem = problem;
  g_writer.problem_noted.store(true, std::memory_order_release);
}

void finalize_statements() {
  for (sqlite3_stmt** statement : {&g_cache.find, &g_cache.store, &g_cache.mark_seen, &g_cache.add_device}) {
    sqlite3_finalize(*statement);
    *statement = nullptr;
  }
}

void close_connection() {
  finalize_statements();
  sqlite3_close_v2(g_cache.db);
  g_cache.db = nullptr;
  g_cache.writable = false;
  g_cache.reading = false;
}

bool prepare(const char* sql, sqlite3_stmt*& statement, CacheProblem& problem) {
  const int code = sqlite3_prepare_v3(g_cache.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  if (code == SQLITE_OK) return true;
  problem = problem_of(code);
  return false;
}

bool prepare_statements(CacheProblem& problem) {
  return prepare(
             "SELECT size, mtime_ns, ctime_ns, digests, seen, results FROM files"
             " WHERE device = ? AND inode = ? AND walk = ?",
             g_cache.find, problem) &&
         prepare("INSERT OR REPLACE INTO files VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)", g_cache.store, problem) &&
         prepare("UPDATE files SET seen = ? WHERE device = ? AND inode = ? AND walk = ?", g_cache.mark_seen, problem) &&
         prepare("INSERT OR IGNORE INTO devices VALUES(?)", g_cache.add_device, problem);
}

bool read_known_devices(CacheProblem& problem) {
  sqlite3_stmt* statement = nullptr;
  if (!prepare("SELECT device FROM devices", statement, problem)) return false;
  int code = SQLITE_ROW;
  while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
    g_cache.known_devices.push_back(static_cast<uint64_t>(sqlite3_column_int64(statement, 0)));
  }
  sqlite3_finalize(statement);
  if (code == SQLITE_DONE) return true;
  problem = problem_of(code);
  return false;
}

// Called by SQLite as a commit begins: the log holds part of it.
int kill_in_commit(void* /*unused*/) {
  if (g_cache.kill_armed) raise(SIGKILL);
  return 0;
}

int64_t monotonic_ns() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void bind_key(sqlite3_stmt* statement, int first, const FileKey& key, CacheWalk walk) {
  // SQLite's integers are signed: the bits of larger numbers are kept as they are.
  sqlite3_bind_int64(statement, first, static_cast<int64_t>(key.device));
  sqlite3_bind_int64(statement, first + 1, static_cast<int64_t>(key.inode));
  sqlite3_bind_int(statement, first + 2, static_cast<int>(walk));
}

void begin_reading() {
  int code = SQLITE_OK;
  g_cache.reading = execute("BEGIN", code);
}

void end_reading() {
  int code = SQLITE_OK;
  if (g_cache.reading) execute("COMMIT", code);
  g_cache.reading = false;
}

// A write problem ends writing; one that is not about room or permission
// ends reading too.
void stop_writing(int code) {
  const CacheProblem problem = problem_of(code);
  note_problem(problem);
  g_cache.writable = false;
  if (problem != CacheProblem::Full && problem != CacheProblem::ReadOnly) close_connection();
}

int insert_row(const PendingRow& pending) {
  sqlite3_stmt* statement = g_cache.store;
  bind_key(statement, 1, pending.key, pending.walk);
  sqlite3_bind_int64(statement, 4, static_cast<int64_t>(pending.key.size));
  sqlite3_bind_int64(statement, 5, pending.key.mtime_ns);
  sqlite3_bind_int64(statement, 6, pending.key.ctime_ns);
  sqlite3_bind_int64(statement, 7, pending.row.digests);
  sqlite3_bind_int64(statement, 8, g_cache.now_seconds);
  sqlite3_bind_blob64(statement, 9, pending.row.results.data(), pending.row.results.size(), SQLITE_STATIC);
  const int code = sqlite3_step(statement);
  sqlite3_reset(statement);
  return code;
}

int mark_seen(const FileKey& key, CacheWalk walk) {
  sqlite3_stmt* statement = g_cache.mark_seen;
  sqlite3_bind_int64(statement, 1, g_cache.now_seconds);
  bind_key(statement, 2, key, walk);
  const int code = sqlite3_step(statement);
  sqlite3_reset(statement);
  return code;
}

int add_device(uint64_t device) {
  sqlite3_stmt* statement = g_cache.add_device;
  sqlite3_bind_int64(statement, 1, static_cast<int64_t>(device));
  const int code = sqlite3_step(statement);
  sqlite3_reset(statement);
  return code;
}

// Every step of one write transaction; SQLITE_DONE when all went in.
int write_rows(const std::vector<PendingRow>& rows, bool with_seen_times) {
  int code = SQLITE_DONE;
  uint64_t last_device = 0;
  for (size_t k = 0; k < rows.size() && code == SQLITE_DONE; ++k) {
    const uint64_t device = rows[k].key.device;
    if (k == 0 || device != last_device) code = add_device(device);
    last_device = device;
    if (code == SQLITE_DONE) code = insert_row(rows[k]);
  }
  for (size_t k = 0; with_seen_times && k < g_cache.seen_keys.size() && code == SQLITE_DONE; ++k) {
    code = mark_seen(g_cache.seen_keys[k], g_cache.seen_walks[k]);
  }
  return code;
}

// Writes the rows (and at the end the times seen) in one transaction, then
// goes back to reading. Under the connection lock.
void write_transaction(const std::vector<PendingRow>& rows, bool with_seen_times) {
  if (g_cache.db == nullptr) return;
  end_reading();
  int code = SQLITE_OK;
  const bool anything = !rows.empty() || (with_seen_times && !g_cache.seen_keys.empty());
  if (anything && g_cache.writable && execute("BEGIN IMMEDIATE", code)) {
    code = write_rows(rows, with_seen_times);
    const int64_t first = g_cache.rows_written;
    g_cache.rows_written += static_cast<int64_t>(rows.size());
    g_cache.kill_armed = first <= g_kill_while_writing_row && g_kill_while_writing_row < g_cache.rows_written;
    if (code == SQLITE_DONE && execute("COMMIT", code)) code = SQLITE_DONE;
    if (code != SQLITE_DONE) {
      int ignored = SQLITE_OK;
      execute("ROLLBACK", ignored);
    }
  }
  // A busy database: these rows are skipped.
  if (code != SQLITE_OK && code != SQLITE_DONE && !is_busy(code)) stop_writing(code);
  if (g_cache.db != nullptr) begin_reading();
}

void* write_handed_rows(void* /*unused*/) {
  std::vector<PendingRow> rows;
  for (;;) {
    {
      std::unique_lock<std::mutex> queue(g_writer.queue);
      g_writer.wake.wait(queue, [] { return !g_writer.handed.empty() || g_writer.closing; });
      if (g_writer.handed.empty()) return nullptr;
      rows.swap(g_writer.handed);
      g_writer.handed_bytes = 0;
    }
    g_writer.taken.notify_one();
    {
      const std::lock_guard<std::mutex> connection(g_writer.connection);
      write_transaction(rows, false);
    }
    rows.clear();
  }
}

// Hands the gathered rows to the writer (or, without one, writes them): at
// once unless it is behind by more than a few batches, so that rows do not
// pile up in memory.
void hand_over_pending() {
  if (!g_writer.started) {
    const std::lock_guard<std::mutex> connection(g_writer.connection);
    write_transaction(g_cache.pending, false);
  } else {
    std::unique_lock<std::mutex> queue(g_writer.queue);
    g_writer.taken.wait(
        queue, [] { return g_writer.handed.size() < handed_rows_limit && g_writer.handed_bytes < handed_bytes_limit; });
    for (PendingRow& row : g_cache.pending) g_writer.handed.push_back(std::move(row));
    g_writer.handed_bytes += g_cache.pending_bytes;
    queue.unlock();
    g_writer.wake.notify_one();
  }
  g_cache.pending.clear();
  g_cache.pending_bytes = 0;
  g_cache.last_flush_ns = monotonic_ns();
}

void start_writer() {
  g_writer.closing = false;
  g_writer.started = pthread_create(&g_writer.thread, nullptr, write_handed_rows, nullptr) == 0;
}

void stop_writer() {
  if (!g_writer.started) return;
  {
    const std::lock_guard<std::mutex> queue(g_writer.queue);
    g_writer.closing = true;
  }
  g_writer.wake.notify_one();
  pthread_join(g_writer.thread, nullptr);
  g_writer.started = false;
}

}  // namespace

bool open_cache_database(const char* path, int64_t now_seconds, CacheProblem& problem) {
  g_cache = CacheDatabase{};
  g_cache.now_seconds = now_seconds;
  g_writer.problem_noted.store(false);
  if (!make_private_cache_file(path, problem)) return false;
  const int code =
      sqlite3_open_v2(path, &g_cache.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
  if (code != SQLITE_OK) {
    problem = problem_of(code);
    close_connection();
    return false;
  }
  sqlite3_busy_timeout(g_cache.db, busy_timeout_ms);
  int pragma_code = SQLITE_OK;
  if (!check_or_create_schema(g_cache.db, problem) || !execute("PRAGMA journal_mode = WAL", pragma_code) ||
      !execute("PRAGMA synchronous = NORMAL", pragma_code) || !prepare_statements(problem) ||
      !read_known_devices(problem)) {
    if (pragma_code != SQLITE_OK) problem = problem_of(pragma_code);
    close_connection();
    return false;
  }
  if (g_cache_page_limit > 0) {
    const std::string limit = "PRAGMA max_page_count = " + std::to_string(g_cache_page_limit);
    execute(limit.c_str(), pragma_code);
  }
  g_cache.writable = true;
  drop_expired_rows(g_cache.db, g_cache.now_seconds);
  if (g_kill_while_writing_row >= 0) sqlite3_commit_hook(g_cache.db, kill_in_commit, nullptr);
  g_cache.last_flush_ns = monotonic_ns();
  begin_reading();
  g_cache.open = true;
  start_writer();
  return true;
}

void close_cache_database() {
  if (!g_cache.open) return;
  hand_over_pending();
  stop_writer();
  // The writer is done: the connection is this thread's alone.
  write_transaction({}, true);
  end_reading();
  close_connection();
  g_cache.open = false;
}

bool cache_may_know_device(uint64_t device) {
  if (!g_cache.open) return false;
  for (const uint64_t known : g_cache.known_devices) {
    if (known == device) return true;
  }
  return false;
}

CacheLookup find_cache_row(const FileKey& key, CacheWalk walk, CacheRow& row) {
  const std::lock_guard<std::mutex> connection(g_writer.connection);
  if (g_cache.db == nullptr) {
    g_cache.known_devices.clear();  // no more lookups
    return CacheLookup::Unusable;
  }
  sqlite3_stmt* statement = g_cache.find;
  bind_key(statement, 1, key, walk);
  const int code = sqlite3_step(statement);
  CacheLookup outcome = CacheLookup::Miss;
  if (code == SQLITE_ROW) {
    const bool same_file = sqlite3_column_int64(statement, 0) == static_cast<int64_t>(key.size) &&
                           sqlite3_column_int64(statement, 1) == key.mtime_ns &&
                           sqlite3_column_int64(statement, 2) == key.ctime_ns;
    if (same_file) {
      row.digests = static_cast<uint32_t>(sqlite3_column_int64(statement, 3));
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, 5));
      row.results.assign(bytes != nullptr ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement, 5)));
      if (g_cache.now_seconds - sqlite3_column_int64(statement, 4) >= seen_resolution_seconds) {
        g_cache.seen_keys.push_back(key);
        g_cache.seen_walks.push_back(walk);
      }
      outcome = CacheLookup::Hit;
    }
  } else if (code != SQLITE_DONE && !is_busy(code)) {
    note_problem(problem_of(code));
    outcome = CacheLookup::Unusable;
  }
  sqlite3_reset(statement);
  if (outcome == CacheLookup::Unusable) close_connection();
  return outcome;
}

void store_cache_row(const FileKey& key, CacheWalk walk, CacheRow&& row) {
  if (!g_cache.open) return;
  g_cache.pending_bytes += row.results.size();
  g_cache.pending.push_back(PendingRow{key, walk, std::move(row)});
  if (g_cache.pending.size() >= flush_rows || g_cache.pending_bytes >= flush_bytes ||
      monotonic_ns() - g_cache.last_flush_ns >= flush_interval_ns) {
    hand_over_pending();
  }
}

bool take_cache_problem(CacheProblem& problem) {
  if (!g_writer.problem_noted.load(std::memory_order_acquire)) return false;
  const std::lock_guard<std::mutex> connection(g_writer.connection);
  if (!g_cache.has_problem || g_cache.problem_told) return false;
  g_cache.problem_told = true;
  problem = g_cache.problem;
  return true;
}
