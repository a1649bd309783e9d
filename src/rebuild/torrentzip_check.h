// Whether an existing zip already is the TorrentZip form of exactly a set's
// ROMs, judged from its records alone (nothing is unpacked), and which of
// its entries hold images the set does not.
#pragma once

#include <cstdint>

#include "base/grow_array.h"
#include "rebuild/rebuild_rom.h"
#include "zip/zip_archive.h"

// True when every byte of the archive outside the compressed data is what
// the TorrentZip writer makes of these ROMs (any order here): the local
// headers from offset 0, each followed by its data, the central directory
// right after them, the end records, and the comment
// TORRENTZIPPED-<CRC-32 of the central directory>, nothing before or after.
// So its entries are exactly the ROMs' names, sizes and CRC-32s, in
// TorrentZip order with the fixed fields. False otherwise, also when memory
// runs out or the archive cannot be read.
bool is_torrentzip_of(const ZipArchive& archive, const RebuildRom* roms, uint32_t rom_count);

// The same for `name` in the folder, opened read-only. False when it is no
// regular file or cannot be opened.
bool is_torrentzip_file_of(int folder_fd, const char* name, const RebuildRom* roms, uint32_t rom_count);

// Appends to `foreign` the index of each entry of the archive whose size
// and CRC-32 no ROM has: an image the set does not hold, whatever its name.
// Folders are not images. False when memory runs out or a record is
// malformed (`foreign` then holds part of the answer).
bool list_foreign_entries(const ZipArchive& archive, const RebuildRom* roms, uint32_t rom_count,
                          GrowArray<uint32_t>& foreign);
