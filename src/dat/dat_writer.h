// Writing a DAT as a Logiqx XML datafile: well-formed whatever bytes the
// names hold, and the same bytes for the same DAT (no date, no time).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "dat/dat_file.h"

// Writes every set of `dat` that has ROMs, as `game` elements, under a
// header named `header_name`. Each ROM gets the fields the DAT has for it.
// False when writing failed.
bool write_dat(std::FILE* out, const DatFile& dat, const char* header_name);

// The same into the file at `path`, whole or not at all: written beside it
// and renamed over it (see base/file_replacement.h).
bool write_dat_file(const char* path, const DatFile& dat, const char* header_name);

// Whether the bytes are valid UTF-8 with no control character, so that they
// can go into XML as they are (with only the markup characters escaped).
bool is_clean_utf8(const char* text);

// A name as a DAT written here gives it back when read: control bytes (and
// every byte from 0x80 when the name is not clean UTF-8) in %XX form.
std::string dat_form_of_name(std::string_view name);
