// Cataloguing the entries of an open zip archive, nested archives of every
// kind included.
#pragma once

#include <memory>

#include "base/provenance.h"

struct OpenArchive;
struct ExpansionBudget;
struct WalkSink;

// Walks every entry of an archive the caller opened: an archive file named
// on the command line or found in a directory. At most 1,032 times its size
// plus 64 MiB is unpacked from the archives nested in it and their entries,
// at all nesting levels together (a nested archive too deep to open counts
// 1,032 times its size), and at most 1,032 times its size plus 16 GiB from
// its own images; the entry that would pass either ends the walk with a
// message. The archive is closed once the walk and the last job reading its
// entries are done with it.
void scan_archive(const Provenance& origin, const std::shared_ptr<OpenArchive>& archive);

// The same for a zip archive at nesting `level` (1 for a file), into
// `sink`, with the budget of the file it is in.
void walk_zip_archive(const Provenance& origin, const std::shared_ptr<OpenArchive>& open_archive, WalkSink sink,
                      ExpansionBudget& budget, int level);
