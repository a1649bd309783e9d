// The listing as JSON Lines, for scripts: one object per image in listing
// order, one per failure in walk order, then the summary.
#pragma once

#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "walk/walk_failure.h"

// Keeps a failure for the listing's error objects; in walk order.
void keep_failure_for_json(const WalkFailure& failure);

// Writes the catalogue's images in sorted order (with the sums of `mode`),
// the kept failures and the summary to standard output. Call after
// mark_duplicates, never in mode Pzc.
void print_json_report(const Catalogue& catalogue, RunMode mode);

// -pzc: one object for an archive's comment.
void print_json_comment(const char* archive_name, const char* comment);

// -pzc: the kept failures, after the comments.
void print_json_failures();
