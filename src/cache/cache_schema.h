// The cache database's schema, and the SQLite calls the cache makes
// everywhere.
#pragma once

#include <sqlite3.h>

#include <cstdint>

#include "cache/cache_problem.h"

// Checks that the database is ours and of a schema this program knows, lays
// the schema in an empty one and upgrades an older one, all in one
// transaction. False, with the problem, otherwise.
bool check_or_create_schema(sqlite3* db, CacheProblem& problem);

// Drops the rows no run has seen for 90 days, at most once a day, in one
// transaction; a busy database waits for a later run.
void drop_expired_rows(sqlite3* db, int64_t now_seconds);

// The problem a SQLite result code stands for.
CacheProblem problem_of(int code);

// Whether the code says another connection held the database too long.
bool is_busy(int code);

bool execute_sql(sqlite3* db, const char* sql, int& code);

// A statement's one integer result, or false with the error code.
bool query_integer(sqlite3* db, const char* sql, int64_t& value, int& code);
