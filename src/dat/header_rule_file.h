// Reading header rules from clrmamepro's detector XML files.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/header_rules.h"
#include "dat/dat_error.h"

// Reads a header rule file (released first). False with the reason and line
// in `error`; refuses operations other than "none".
bool load_header_rules(const char* path, HeaderRules& rules, DatError& error);
bool load_header_rules_memory(const uint8_t* bytes, size_t size, HeaderRules& rules, DatError& error);
