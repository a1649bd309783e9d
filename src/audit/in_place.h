// Whether an image sits where a DAT's set would keep its ROM.
#pragma once

#include <cstddef>

// True when `image_name` is "...SET<archive suffix>?ROM" or "...SET/ROM",
// where "..." is empty or ends in '/' or '?'.
bool is_in_set(const char* image_name, const char* set_name, const char* rom_name);
