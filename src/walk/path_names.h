// Joining a directory's path and an entry's name, for the path walker.
#pragma once

#include <memory>

// "a", separator, "b" in a new block of strlen(a) + strlen(b) + 2 bytes.
std::unique_ptr<char[]> join_path(const char* a, char separator, const char* b);
