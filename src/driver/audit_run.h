// The audit's part of a run: the DATs and header rules loaded before any
// path is read, and the audit and DATs written after the walk.
#pragma once

#include <vector>

#include "base/header_rules.h"
#include "catalogue/audit_digests.h"
#include "catalogue/rom_entry.h"
#include "dat/dat_file.h"
#include "driver/rebuild_run.h"
#include "driver/run_settings.h"

// What the audit loaded: each DAT once, with the path it was given by, and
// the header rules the digests are taken with.
struct AuditState {
  std::vector<DatFile> dats;
  std::vector<const char*> dat_paths;
  HeaderRules header_rules;
};

// Loads the header rules and every DAT, in order, and says in `digests`
// which digests the run takes (which keeps pointing into `state`); without
// an audit, `digests` is left as it is. False after reporting the first
// failure.
bool prepare_audit(const AuditSettings& settings, AuditState& state, DigestPlan& digests);

// After the walk, with the catalogue's sorted order built: prints the audit, rebuilds the sets
// and writes the fixdat and the dir2dat asked for. `paths` are the paths
// given, to name the dir2dat's sets. *lacking tells whether some required
// ROM is not in place (false without an audit). False after reporting a
// DAT that could not be written.
bool finish_audit(const RunSettings& settings, const Catalogue& catalogue, const DigestPlan& digests,
                  const AuditState& state, const RebuildState& rebuild, char* const* paths, int path_count,
                  bool* lacking);
