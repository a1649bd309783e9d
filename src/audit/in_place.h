// Whether an image sits where a DAT's set would keep its ROM.
#pragma once

#include <cstddef>

// The size of the archive suffix (".zip" in any case) that ends the first
// `size` bytes of `name`, or 0. The one list of suffixes the audit knows as
// archives: it names what the walkers open.
size_t archive_suffix_size(const char* name, size_t size);

// True when `image_name` is "...SET<archive suffix>?ROM" or "...SET/ROM",
// where "..." is empty or ends in '/' or '?'.
bool is_in_set(const char* image_name, const char* set_name, const char* rom_name);
