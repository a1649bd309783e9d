// The two string helpers both walkers use for display names.
#pragma once

#include <memory>

// "a", separator, "b" in a new block of strlen(a) + strlen(b) + 2 bytes.
std::unique_ptr<char[]> join_path(const char* a, char separator, const char* b);

// True when the text from the last '.' to the end is ".zip" in any case of
// the ASCII letters; independent of the locale.
bool has_zip_suffix(const char* name);
