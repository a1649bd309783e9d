// What the command line asks of a run: read once by read_options into a
// record main owns and hands down.
#pragma once

#include <vector>

#include "catalogue/run_mode.h"
#include "rebuild/set_plan.h"

// --dat, --fixdat, --dir2dat, --header, --md5 and --sha256.
struct AuditSettings {
  std::vector<const char*> dat_paths;  // in order, a DAT given twice kept twice
  const char* fixdat_path = nullptr;
  const char* dir2dat_path = nullptr;
  const char* header_path = nullptr;
  bool md5 = false;
  bool sha256 = false;
};

// --rebuild OUT and what shapes it.
struct RebuildSettings {
  const char* out_path = nullptr;  // null: no rebuild
  MergeMode merge = MergeMode::NonMerged;
  bool complete_only = false;
  bool as_folders = false;  // --rebuild-as dir
  const char* backup_path = nullptr;
  bool dry_run = false;
  // The option that needs --rebuild, given first: for the usage error.
  const char* first_dependent = nullptr;
};

struct RunSettings {
  RunMode mode = RunMode::All;
  const char* mode_option = nullptr;  // the mode option given last
  int worker_count = 0;               // -jN; 0 when none was given, until main puts the default
  bool json = false;                  // the listing, audit or comments as JSON Lines
  // --cache: whether the run uses a cache, and its file ("" for the default
  // place); --recheck: read every file and compare it with its row.
  bool cache_wanted = false;
  const char* cache_file = "";
  bool recheck = false;
  bool strict = false;                // the listing's exit status, too, says that something could not be read
  std::vector<const char*> excluded;  // --exclude patterns, in order
  AuditSettings audit;
  RebuildSettings rebuild;
};

// Whether the run prints the audit instead of the listing.
inline bool is_auditing(const RunSettings& settings) {
  return !settings.audit.dat_paths.empty();
}
