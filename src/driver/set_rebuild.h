// One set of the rebuild: its ROMs found this run gathered with their
// sources, and the set kept, written or refused.
#pragma once

#include <cstdint>
#include <vector>

#include "audit/audit_image.h"
#include "audit/matching.h"
#include "dat/dat_file.h"
#include "driver/image_sources.h"
#include "rebuild/set_plan.h"
#include "report/rebuild_report.h"

struct RebuildTarget {
  int out_fd;  // -1: a dry run into a folder not made yet
  int backup_fd;
  const char* out_path;  // as given, without trailing '/'
  bool as_folders;
  bool dry_run;
  MergeMode merge;
  const HeaderRules* rules;
  const DatFile* dats;
  const AuditImage* images;
  const AuditResult* result;
};

// The set's ROMs under its plan that some image matched, each with its
// images to pour from. The vectors are sized once: the sources point into them.
struct FoundRoms {
  SetPlan plan;
  std::vector<RebuildRom> roms;
  std::vector<ImageCandidate> candidates;
  std::vector<ImageSourceState> states;
};

// Plans the set and gathers what was found; false with the reason it
// cannot be written (an unsafe or clashing name, memory).
bool gather_found_roms(const RebuildTarget& target, uint32_t dat, uint32_t set, FoundRoms& found,
                       NotWrittenReason& reason);

// The files under the output folder that the set's file or files would
// replace: "SET.zip", or "SET/ROM" for each ROM.
void target_names(const RebuildTarget& target, const char* set_name, const FoundRoms& found,
                  std::vector<std::string>& names);

// Keeps, writes or refuses the set, into `line` (its file, action, counts
// and reason). False when nothing of the set was found under its plan (no
// line). `stops` says the failure ends the rebuild (a write error).
bool rebuild_set(const RebuildTarget& target, uint32_t dat, uint32_t set, RebuildLine& line, bool& stops);
