// Loading a DAT whatever its dialect: XML (Logiqx, No-Intro, -listxml) or
// clrmamepro text, told by its first bytes, never by its name.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dat/dat_error.h"
#include "dat/dat_file.h"

// Fills `dat` (any previous content is released) and ends it with
// finish_dat. False with the reason and line in `error`; `dat` then holds
// whatever was read, to be released with free_dat.
bool load_dat_file(const char* path, DatFile& dat, DatError& error);

bool load_dat_memory(const uint8_t* bytes, size_t size, DatFile& dat, DatError& error);
