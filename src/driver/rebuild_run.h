// The rebuild of sets as a part of a run: the output folder made ready and
// walked before every other path, and after the audit every set found
// written into it, one worker a set, reported in DAT order.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "audit/audit_image.h"
#include "audit/matching.h"
#include "base/header_rules.h"
#include "dat/dat_file.h"
#include "driver/run_settings.h"

// The output folder and the backup folder, opened before the walk.
struct RebuildState {
  int out_fd = -1;  // -1: no rebuild, or a dry run into a folder not made yet
  int backup_fd = -1;
  std::string out_path;  // as given, without trailing '/'
  bool out_walked = false;
  dev_t out_device = 0;
  ino_t out_inode = 0;
};

// Before the walk, with --rebuild: makes the output folder when missing,
// opens it and removes the temporary files an earlier, killed run left in
// it (a dry run only opens it). False after reporting.
bool prepare_rebuild(const RebuildSettings& settings, RebuildState& state);

// The output folder to walk before the paths given, or null.
const char* rebuild_folder_to_walk(const RebuildState& state);

// Whether `path` is the output folder, already walked.
bool is_rebuild_folder(const RebuildState& state, const char* path);

// After the audit's report: writes, keeps or refuses each set of which some
// ROM was found, and reports. False when a write failed (the rest of the
// sets were then not started). When every set found was written or kept,
// *lacking is made to say what the audit would say of the output folder
// now: whether some set lacks a required ROM. `header_rules` are those the
// images' digests were taken with.
bool rebuild_sets(const RunSettings& settings, const RebuildState& state, const HeaderRules* header_rules,
                  const DatFile* dats, size_t dat_count, const AuditImage* images, const AuditResult& result,
                  bool* lacking);
