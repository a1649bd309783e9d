// Writing one set into the output folder safely, as a TorrentZip archive
// or as a folder of plain files: each file under a temporary name in its
// final folder, flushed, read back and checked, then renamed into place and
// the folder flushed. On any failure the temporary file is removed and the
// reason returned; nothing is ever left partial under a final name.
#pragma once

#include <cstdint>

#include "rebuild/rebuild_rom.h"

// Writes `file_name` (one name, e.g. "SET.zip") in the folder as the
// TorrentZip form of the ROMs, replacing a file of that name only once the
// new one is whole and checked. False with why in `error`.
bool write_torrentzip_file(int folder_fd, const char* file_name, const RebuildRom* roms, uint32_t rom_count,
                           RebuildError& error);

// Writes each ROM as the plain file `set_name/ROM name` in the folder
// (making the folders its name holds), each the same safe way. False with
// why in `error` at the first ROM that fails; the ROMs written before it
// stay, each whole and checked.
bool write_rom_folder(int folder_fd, const char* set_name, const RebuildRom* roms, uint32_t rom_count,
                      RebuildError& error);
