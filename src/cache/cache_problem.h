// Why a cache file is not used: the cache layer says which, the report
// layer words it.
#pragma once

#include <cstdint>

enum class CacheProblem : uint8_t {
  CannotOpen,    // missing folder, no permission, not a regular file
  NotADatabase,  // the file is not a SQLite database
  Damaged,       // SQLite found it corrupt, or could not read it
  NewerSchema,   // written by a later imgchk
  NotACache,     // a SQLite database of something else
  Full,          // the disk or the database is full
  ReadOnly,      // the file or its folder cannot be written
  Busy,          // another run held it past the busy timeout while it was opened
  NoHome,        // neither XDG_CACHE_HOME nor HOME says where it goes
  SymbolicLink,  // the name is a symbolic link, which is never followed
};
