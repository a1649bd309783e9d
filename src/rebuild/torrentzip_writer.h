// Writing a set's ROMs as one TorrentZip archive, streaming: each ROM is
// poured from its source through zlib into the file piece by piece, and its
// local header filled in afterwards at its place, so memory stays flat
// whatever the ROMs' sizes (only the central directory is held).
#pragma once

#include <cstdint>

#include "rebuild/rebuild_rom.h"

// Writes the archive from offset 0 of `fd` (open for writing, and reading
// nothing back from it) and truncates the file at its end. ROMs go in
// TorrentZip order whatever their order here; their names are written as
// given. A ROM whose poured bytes differ in length or CRC-32 from its record
// fails the whole archive (SourceChanged). False with why in `error`, whose
// `rom` indexes `roms`; the file then holds a part of an archive.
bool write_torrentzip(int fd, const RebuildRom* roms, uint32_t rom_count, RebuildError& error);

// The ROMs' indices in TorrentZip order, into `order` (rom_count of them);
// false when two names are the same (ClashingNames, `error.rom` one of them)
// or a name is empty or holds `\` (UnsafeName).
bool order_torrentzip_entries(const RebuildRom* roms, uint32_t rom_count, uint32_t* order, RebuildError& error);
