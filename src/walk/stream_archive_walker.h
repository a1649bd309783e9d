// Walking a 7z, tar, gzip or RAR archive in the order its entries are
// stored, as libarchive must read them (a solid 7z block unpacks once,
// from its start): each image is summarised as it streams past, a nested
// archive is held whole and walked depth-first.
#pragma once

#include <cstdint>

#include "archive/archive_kind.h"
#include "walk/walk_results.h"

struct ArchiveReader;
struct ExpansionBudget;
struct WalkSink;

// Walks every entry of an open reader into `sink`; `level` is its nesting
// depth (1 for an archive file). After an entry whose failure leaves
// libarchive unable to go on, the archive is opened again past it and the
// walk goes on with the next entry; when that one fails too (a damaged
// solid block, a damaged compressed tar), each entry after it is reported
// as failed without being read, and the walk of the archive ends.
void walk_stream_archive(const Provenance& origin, ArchiveReader& reader, WalkSink sink, ExpansionBudget& budget,
                         int level);

// An archive file, for a worker: opened as `kind` (taking `fd` over) and
// walked with its own expansion budget into `results`.
void walk_stream_archive_file(const Provenance& origin, int fd, uint64_t size, ArchiveKind kind, WalkResults& results);
