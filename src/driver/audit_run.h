// The audit's part of a run: its options, the DATs and header rules loaded
// before any path is read, and the audit and DATs written after the walk.
#pragma once

#include <vector>

// What the audit options asked for; the option table fills it.
struct AuditSettings {
  std::vector<const char*> dat_paths;  // --dat, in order
  const char* fixdat_path = nullptr;
  const char* dir2dat_path = nullptr;
  const char* header_path = nullptr;
  bool md5 = false;
};

AuditSettings& audit_settings();

// The usage errors between audit options and the rest, reported; true when
// there are none. `mode_option` is the mode option given last, or null.
bool check_audit_options(const char* mode_option);

// Whether the run prints the audit instead of the listing.
bool is_auditing();

// Loads the header rules and every DAT, in order, and sets what the
// summariser takes. False after reporting the first failure.
bool prepare_audit();

// After the walk, with g_sorted built: prints the audit and writes the
// fixdat and the dir2dat asked for. `paths` are the paths given, to name
// the dir2dat's sets. False after reporting a DAT that could not be written.
bool finish_audit(char* const* paths, int path_count);
