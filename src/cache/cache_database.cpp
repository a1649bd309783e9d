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

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

int64_t g_kill_while_writing_row = -1;
int64_t g_cache_page_limit = 0;

namespace {

// "imgc": tells our cache from other SQLite databases.
constexpr int32_t application_id = 0x696D6763;
constexpr int32_t schema_version = 1;

constexpr int busy_timeout_ms = 2000;
// Rows wait in memory at most this long, or this many of them or bytes.
constexpr int64_t flush_interval_ns = 250'000'000;
constexpr size_t flush_rows = 1000;
constexpr size_t flush_bytes = size_t{8} << 20;
constexpr int64_t seconds_per_day = 86400;
constexpr int64_t expiry_seconds = 90 * seconds_per_day;
// A hit rewrites the row's time seen only when it is older than this, so
// that a second run the same day writes nothing.
constexpr int64_t seen_resolution_seconds = seconds_per_day;

constexpr char schema_sql[] =
    "CREATE TABLE files("
    " device INTEGER NOT NULL, inode INTEGER NOT NULL, walk INTEGER NOT NULL,"
    " size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL, digests INTEGER NOT NULL,"
    " seen INTEGER NOT NULL, results BLOB NOT NULL,"
    " PRIMARY KEY(device, inode, walk)) WITHOUT ROWID;"
    "CREATE TABLE settings(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE devices(device INTEGER PRIMARY KEY);";

struct PendingRow {
  FileKey key;
  CacheWalk walk;
  CacheRow row;
};

struct CacheDatabase {
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

CacheProblem problem_of(int code) {
  switch (code & 0xFF) {
    case SQLITE_NOTADB:
      return CacheProblem::NotADatabase;
    case SQLITE_FULL:
      return CacheProblem::Full;
    case SQLITE_READONLY:
    case SQLITE_PERM:
      return CacheProblem::ReadOnly;
    case SQLITE_CANTOPEN:
      return CacheProblem::CannotOpen;
    default:
      return CacheProblem::Damaged;
  }
}

bool is_busy(int code) {
  return (code & 0xFF) == SQLITE_BUSY || (code & 0xFF) == SQLITE_LOCKED;
}

void note_problem(CacheProblem problem) {
  if (g_cache.has_problem) return;
  g_cache.has_problem = true;
  g_cache.problem = problem;
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

// A statement's one integer result, or false with the error code.
bool query_integer(const char* sql, int64_t& value, int& code) {
  sqlite3_stmt* statement = nullptr;
  code = sqlite3_prepare_v2(g_cache.db, sql, -1, &statement, nullptr);
  if (code != SQLITE_OK) return false;
  code = sqlite3_step(statement);
  value = code == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : 0;
  if (code == SQLITE_ROW || code == SQLITE_DONE) code = SQLITE_OK;
  sqlite3_finalize(statement);
  return code == SQLITE_OK;
}

bool execute(const char* sql, int& code) {
  code = sqlite3_exec(g_cache.db, sql, nullptr, nullptr, nullptr);
  return code == SQLITE_OK;
}

// The file is created here, so that it gets mode 0600 whatever the umask;
// SQLite gives its log files the same mode. An existing file is untouched.
bool create_private_file(const char* path, CacheProblem& problem) {
  const int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd >= 0) {
    struct stat status {};
    const bool regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    close(fd);
    if (!regular) problem = CacheProblem::CannotOpen;
    return regular;
  }
  const bool readable = (errno == EACCES || errno == EROFS || errno == EPERM) && access(path, R_OK) == 0;
  problem = readable ? CacheProblem::ReadOnly : CacheProblem::CannotOpen;
  return false;
}

// Checks that the database is ours and of a schema this program knows, and
// lays the schema in an empty one, all in one transaction.
bool check_or_create_schema(CacheProblem& problem) {
  int code = SQLITE_OK;
  int64_t app = 0;
  int64_t version = 0;
  int64_t tables = 0;
  if (!execute("BEGIN IMMEDIATE", code)) {
    problem = is_busy(code) ? CacheProblem::Busy : problem_of(code);
    return false;
  }
  bool ok = query_integer("PRAGMA application_id", app, code) && query_integer("PRAGMA user_version", version, code) &&
            query_integer("SELECT count(*) FROM sqlite_master", tables, code);
  if (!ok) problem = problem_of(code);
  if (ok && app != application_id && (app != 0 || tables != 0)) {
    problem = CacheProblem::NotACache;
    ok = false;
  } else if (ok && version > schema_version) {
    problem = CacheProblem::NewerSchema;
    ok = false;
  } else if (ok && tables == 0) {
    ok = execute(schema_sql, code) && execute("PRAGMA application_id = 1768777571", code) &&
         execute("PRAGMA user_version = 1", code);
    if (!ok) problem = problem_of(code);
  }
  if (!ok) {
    execute("ROLLBACK", code);
    return false;
  }
  if (!execute("COMMIT", code)) {
    problem = problem_of(code);
    return false;
  }
  return true;
}
static_assert(application_id == 1768777571 && schema_version == 1, "the PRAGMA texts above");

bool prepare(const char* sql, sqlite3_stmt*& statement, CacheProblem& problem) {
  const int code = sqlite3_prepare_v3(g_cache.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
  if (code == SQLITE_OK) return true;
  problem = problem_of(code);
  return false;
}

bool prepare_statements(CacheProblem& problem) {
  return prepare("SELECT size, mtime_ns, digests, seen, results FROM files WHERE device = ? AND inode = ? AND walk = ?",
                 g_cache.find, problem) &&
         prepare("INSERT OR REPLACE INTO files VALUES(?, ?, ?, ?, ?, ?, ?, ?)", g_cache.store, problem) &&
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

// At most once a day, in one transaction; a busy database waits for a later
// run.
void drop_expired_rows() {
  int64_t last = 0;
  int code = SQLITE_OK;
  if (!query_integer("SELECT value FROM settings WHERE name = 'expired'", last, code)) return;
  if (g_cache.now_seconds - last < seconds_per_day) return;
  sqlite3_stmt* statement = nullptr;
  if (!execute("BEGIN IMMEDIATE", code)) return;
  bool ok = sqlite3_prepare_v2(g_cache.db, "DELETE FROM files WHERE seen < ?1", -1, &statement, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int64(statement, 1, g_cache.now_seconds - expiry_seconds);
    ok = sqlite3_step(statement) == SQLITE_DONE;
  }
  sqlite3_finalize(statement);
  statement = nullptr;
  if (ok && sqlite3_prepare_v2(g_cache.db, "INSERT OR REPLACE INTO settings VALUES('expired', ?1)", -1, &statement,
                               nullptr) == SQLITE_OK) {
    sqlite3_bind_int64(statement, 1, g_cache.now_seconds);
    ok = sqlite3_step(statement) == SQLITE_DONE;
  }
  sqlite3_finalize(statement);
  execute(ok ? "COMMIT" : "ROLLBACK", code);
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
  sqlite3_bind_int64(statement, 6, pending.row.digests);
  sqlite3_bind_int64(statement, 7, g_cache.now_seconds);
  sqlite3_bind_blob64(statement, 8, pending.row.results.data(), pending.row.results.size(), SQLITE_STATIC);
  const int code = sqlite3_step(statement);
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
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
int write_pending(bool with_seen_times) {
  int code = SQLITE_DONE;
  uint64_t last_device = 0;
  for (size_t k = 0; k < g_cache.pending.size() && code == SQLITE_DONE; ++k) {
    const uint64_t device = g_cache.pending[k].key.device;
    if (k == 0 || device != last_device) code = add_device(device);
    last_device = device;
    if (code == SQLITE_DONE) code = insert_row(g_cache.pending[k]);
  }
  for (size_t k = 0; with_seen_times && k < g_cache.seen_keys.size() && code == SQLITE_DONE; ++k) {
    code = mark_seen(g_cache.seen_keys[k], g_cache.seen_walks[k]);
  }
  return code;
}

// Writes the waiting rows (and at the end the times seen) in one
// transaction, then goes back to reading.
void flush_pending(bool with_seen_times) {
  end_reading();
  int code = SQLITE_OK;
  const bool anything = !g_cache.pending.empty() || (with_seen_times && !g_cache.seen_keys.empty());
  if (anything && g_cache.writable && execute("BEGIN IMMEDIATE", code)) {
    code = write_pending(with_seen_times);
    const int64_t first = g_cache.rows_written;
    g_cache.rows_written += static_cast<int64_t>(g_cache.pending.size());
    g_cache.kill_armed = first <= g_kill_while_writing_row && g_kill_while_writing_row < g_cache.rows_written;
    if (code == SQLITE_DONE && execute("COMMIT", code)) code = SQLITE_DONE;
    if (code != SQLITE_DONE) {
      int ignored = SQLITE_OK;
      execute("ROLLBACK", ignored);
    }
  }
  // A busy database: these rows are skipped.
  if (code != SQLITE_OK && code != SQLITE_DONE && !is_busy(code)) stop_writing(code);
  g_cache.pending.clear();
  g_cache.pending_bytes = 0;
  g_cache.last_flush_ns = monotonic_ns();
  if (g_cache.db != nullptr) begin_reading();
}

}  // namespace

bool open_cache_database(const char* path, int64_t now_seconds, CacheProblem& problem) {
  g_cache = CacheDatabase{};
  g_cache.now_seconds = now_seconds;
  if (!create_private_file(path, problem)) return false;
  const int code = sqlite3_open_v2(path, &g_cache.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (code != SQLITE_OK) {
    problem = problem_of(code);
    close_connection();
    return false;
  }
  sqlite3_busy_timeout(g_cache.db, busy_timeout_ms);
  int pragma_code = SQLITE_OK;
  if (!check_or_create_schema(problem) || !execute("PRAGMA journal_mode = WAL", pragma_code) ||
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
  drop_expired_rows();
  if (g_kill_while_writing_row >= 0) sqlite3_commit_hook(g_cache.db, kill_in_commit, nullptr);
  g_cache.last_flush_ns = monotonic_ns();
  begin_reading();
  return true;
}

void close_cache_database() {
  if (g_cache.db == nullptr) return;
  flush_pending(true);
  end_reading();
  close_connection();
}

bool cache_may_know_device(uint64_t device) {
  if (g_cache.db == nullptr) return false;
  for (const uint64_t known : g_cache.known_devices) {
    if (known == device) return true;
  }
  return false;
}

CacheLookup find_cache_row(const FileKey& key, CacheWalk walk, CacheRow& row) {
  if (g_cache.db == nullptr) return CacheLookup::Unusable;
  sqlite3_stmt* statement = g_cache.find;
  bind_key(statement, 1, key, walk);
  const int code = sqlite3_step(statement);
  CacheLookup outcome = CacheLookup::Miss;
  if (code == SQLITE_ROW) {
    const bool same_file = sqlite3_column_int64(statement, 0) == static_cast<int64_t>(key.size) &&
                           sqlite3_column_int64(statement, 1) == key.mtime_ns;
    if (same_file) {
      row.digests = static_cast<uint32_t>(sqlite3_column_int64(statement, 2));
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement, 4));
      row.results.assign(bytes != nullptr ? bytes : "", static_cast<size_t>(sqlite3_column_bytes(statement, 4)));
      if (g_cache.now_seconds - sqlite3_column_int64(statement, 3) >= seen_resolution_seconds) {
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
  if (!g_cache.writable) return;
  g_cache.pending_bytes += row.results.size();
  g_cache.pending.push_back(PendingRow{key, walk, std::move(row)});
  if (g_cache.pending.size() >= flush_rows || g_cache.pending_bytes >= flush_bytes ||
      monotonic_ns() - g_cache.last_flush_ns >= flush_interval_ns) {
    flush_pending(false);
  }
}

bool take_cache_problem(CacheProblem& problem) {
  if (!g_cache.has_problem || g_cache.problem_told) return false;
  g_cache.problem_told = true;
  problem = g_cache.problem;
  return true;
}
