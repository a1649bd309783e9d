// Whether a RAR archive's blocks run on to its end-of-archive block.
// libarchive ends a RAR silently where its bytes run out, so an archive cut
// between two entries, or inside a header, would otherwise look whole.
#pragma once

#include "archive/archive_source.h"

// True when the source holds, from its first byte, a RAR 5 archive whose
// blocks run out before the end-of-archive header, or a RAR 4 archive whose
// last block is cut short. A RAR 4 archive may end after a whole block
// without an end block: RAR 2 wrote none, and later versions leave it out
// on request. False too whenever the blocks cannot be followed with
// certainty (a self-extracting stub before the signature, a header that
// fails its CRC-32, an encrypted or oversized header): then libarchive's
// word stands.
bool rar_is_cut_short(const ArchiveSource& source);
