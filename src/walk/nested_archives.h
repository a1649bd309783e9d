// An archive held whole in memory, being an entry of another archive,
// opened as its name says and walked depth-first.
#pragma once

#include <cstdint>

#include "archive/archive_kind.h"
#include "base/provenance.h"
#include "zip/zip_source.h"

struct ExpansionBudget;
struct WalkSink;

// An archive that contains itself would otherwise be walked until memory
// runs out; real collections nest two or three levels.
inline constexpr int max_nesting_level = 16;

// The one rule for an archive nested too deep to open, at nesting `level`
// (1 for the archive file itself): true when it is refused, and reported
// (as too deep, or as past the expansion limit once its recorded size is
// charged). False when it may be opened.
bool refuse_too_deep(WalkSink sink, ExpansionBudget& budget, const Provenance& entry, uint64_t recorded_size,
                     int level);

// Opens the block (taken over) as `kind` and walks it, at nesting `level`,
// into `sink`; reports the open error naming it when it does not open.
void walk_held_archive(ArchiveKind kind, const Provenance& origin, MallocBlock block, uint64_t size, WalkSink sink,
                       ExpansionBudget& budget, int level);
