// Reading back what the rebuild wrote, through imgchk's own zip reader and
// plain reads, and checking it entry by entry against the ROMs it must hold.
#pragma once

#include <cstdint>

#include "rebuild/rebuild_rom.h"

// True when the zip `name` in the folder is the TorrentZip form of exactly
// the ROMs and each entry unpacks to its ROM's size, CRC-32 and, where
// given, SHA-1. False with ReadBackFailed (`rom` the first ROM that
// differs), WriteFailed (it cannot be opened: the errno) or OutOfMemory.
bool check_written_zip(int folder_fd, const char* name, const RebuildRom* roms, uint32_t rom_count,
                       RebuildError& error);

// The same for a plain file that must hold exactly the ROM's bytes; `rom`
// is the index put into `error`.
bool check_written_file(int folder_fd, const char* name, const RebuildRom& rom, uint32_t index, RebuildError& error);
