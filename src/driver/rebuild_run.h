// The rebuild of sets as a part of a run: the output folder made ready and
// walked before every other path, and after the audit every set found
// written into it, one worker a set, reported in DAT order.
#pragma once

#include <cstddef>

#include "audit/audit_image.h"
#include "audit/matching.h"
#include "dat/dat_file.h"

// Before the walk, with --rebuild: makes the output folder when missing,
// opens it and removes the temporary files an earlier, killed run left in
// it (a dry run only opens it). False after reporting.
bool prepare_rebuild();

// The output folder to walk before the paths given, or null.
const char* rebuild_folder_to_walk();

// Whether `path` is the output folder, already walked.
bool is_rebuild_folder(const char* path);

// After the audit's report: writes, keeps or refuses each set of which some
// ROM was found, and reports. False when a write failed (the rest of the
// sets were then not started). When every set found was written or kept,
// *lacking is made to say what the audit would say of the output folder
// now: whether some set lacks a required ROM.
bool rebuild_sets(const DatFile* dats, size_t dat_count, const AuditImage* images, const AuditResult& result,
                  bool* lacking);
