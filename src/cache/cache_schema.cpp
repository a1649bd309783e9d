// The cache database's tables, their versions and their upkeep. Version 2
// added the status-change time to a file's key.
#include "cache/cache_schema.h"

namespace {

// "imgc": tells our cache from other SQLite databases.
constexpr int32_t application_id = 0x696D6763;
constexpr int32_t schema_version = 2;

constexpr char files_table_sql[] =
    "CREATE TABLE files("
    " device INTEGER NOT NULL, inode INTEGER NOT NULL, walk INTEGER NOT NULL,"
    " size INTEGER NOT NULL, mtime_ns INTEGER NOT NULL, ctime_ns INTEGER NOT NULL, digests INTEGER NOT NULL,"
    " seen INTEGER NOT NULL, results BLOB NOT NULL,"
    " PRIMARY KEY(device, inode, walk)) WITHOUT ROWID;";
constexpr char other_tables_sql[] =
    "CREATE TABLE settings(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
    "CREATE TABLE devices(device INTEGER PRIMARY KEY);";
// Version 1's rows lack the status-change time, so none of them can be
// trusted: they go, and their files are read once more.
constexpr char upgrade_from_1_sql[] = "DROP TABLE files; DELETE FROM devices;";

constexpr int64_t seconds_per_day = 86400;
constexpr int64_t expiry_seconds = 90 * seconds_per_day;

}  // namespace

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

bool query_integer(sqlite3* db, const char* sql, int64_t& value, int& code) {
  sqlite3_stmt* statement = nullptr;
  code = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  if (code != SQLITE_OK) return false;
  code = sqlite3_step(statement);
  value = code == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : 0;
  if (code == SQLITE_ROW || code == SQLITE_DONE) code = SQLITE_OK;
  sqlite3_finalize(statement);
  return code == SQLITE_OK;
}

bool execute_sql(sqlite3* db, const char* sql, int& code) {
  code = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  return code == SQLITE_OK;
}

bool check_or_create_schema(sqlite3* db, CacheProblem& problem) {
  int code = SQLITE_OK;
  int64_t app = 0;
  int64_t version = 0;
  int64_t tables = 0;
  if (!execute_sql(db, "BEGIN IMMEDIATE", code)) {
    problem = is_busy(code) ? CacheProblem::Busy : problem_of(code);
    return false;
  }
  bool ok = query_integer(db, "PRAGMA application_id", app, code) &&
            query_integer(db, "PRAGMA user_version", version, code) &&
            query_integer(db, "SELECT count(*) FROM sqlite_master", tables, code);
  if (!ok) problem = problem_of(code);
  if (ok && app != application_id && (app != 0 || tables != 0)) {
    problem = CacheProblem::NotACache;
    ok = false;
  } else if (ok && version > schema_version) {
    problem = CacheProblem::NewerSchema;
    ok = false;
  } else if (ok && (tables == 0 || version < schema_version)) {
    ok = (tables == 0 || execute_sql(db, upgrade_from_1_sql, code)) && execute_sql(db, files_table_sql, code) &&
         (tables != 0 || execute_sql(db, other_tables_sql, code)) &&
         execute_sql(db, "PRAGMA application_id = 1768777571", code) &&
         execute_sql(db, "PRAGMA user_version = 2", code);
    if (!ok) problem = problem_of(code);
  }
  if (!ok) {
    execute_sql(db, "ROLLBACK", code);
    return false;
  }
  if (!execute_sql(db, "COMMIT", code)) {
    problem = problem_of(code);
    return false;
  }
  return true;
}
static_assert(application_id == 1768777571 && schema_version == 2, "the PRAGMA texts above");

void drop_expired_rows(sqlite3* db, int64_t now_seconds) {
  int64_t last = 0;
  int code = SQLITE_OK;
  if (!query_integer(db, "SELECT value FROM settings WHERE name = 'expired'", last, code)) return;
  if (now_seconds - last < seconds_per_day) return;
  sqlite3_stmt* statement = nullptr;
  if (!execute_sql(db, "BEGIN IMMEDIATE", code)) return;
  bool ok = sqlite3_prepare_v2(db, "DELETE FROM files WHERE seen < ?1", -1, &statement, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_int64(statement, 1, now_seconds - expiry_seconds);
    ok = sqlite3_step(statement) == SQLITE_DONE;
  }
  sqlite3_finalize(statement);
  statement = nullptr;
  if (ok && sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO settings VALUES('expired', ?1)", -1, &statement, nullptr) ==
                SQLITE_OK) {
    sqlite3_bind_int64(statement, 1, now_seconds);
    ok = sqlite3_step(statement) == SQLITE_DONE;
  }
  sqlite3_finalize(statement);
  execute_sql(db, ok ? "COMMIT" : "ROLLBACK", code);
}
