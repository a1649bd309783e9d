// The options of the rebuild of sets: --rebuild OUT and what shapes it.
#pragma once

#include "driver/audit_run.h"
#include "rebuild/set_plan.h"

struct RebuildSettings {
  const char* out_path = nullptr;  // --rebuild OUT; null: no rebuild
  MergeMode merge = MergeMode::NonMerged;
  bool complete_only = false;
  bool as_folders = false;  // --rebuild-as dir
  const char* backup_path = nullptr;
  bool dry_run = false;
  // The option that needs --rebuild, given first: for the usage error.
  const char* first_dependent = nullptr;
};

extern RebuildSettings g_rebuild;

// Reads --rebuild OUT, --merge nonmerged|split, --complete-only,
// --rebuild-as zip|dir, --backup DIR and --dry-run (values also after
// '='); on Taken, *index is the last argument used. A missing or unknown
// value is reported (MissingValue).
AuditOptionUse read_rebuild_option(int argc, char** argv, int* index);

// The usage errors: --rebuild needs --dat, the others need --rebuild.
// Reported; true when there are none.
bool check_rebuild_options(bool auditing);

// The help text of the rebuild options.
extern const char rebuild_option_lines[];
