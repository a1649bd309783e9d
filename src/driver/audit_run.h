// The audit's part of a run: its options, the DATs and header rules loaded
// before any path is read, and the audit and DATs written after the walk.
#pragma once

// What read_audit_option made of argv[index].
enum class AuditOptionUse {
  NotAuditOption,
  Taken,         // the option, and its value if it has one
  MissingValue,  // already reported
};

// Reads --dat FILE (also --dat=FILE, repeatable), --fixdat FILE,
// --dir2dat FILE, --header FILE and --md5 at argv[*index]; on Taken,
// *index is the last argument used.
AuditOptionUse read_audit_option(int argc, char** argv, int* index);

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
// the dir2dat's sets. *lacking tells whether some required ROM is not in
// place (false without an audit). False after reporting a DAT that could
// not be written.
bool finish_audit(char* const* paths, int path_count, bool* lacking);

// The help text of the audit options.
extern const char audit_option_lines[];
