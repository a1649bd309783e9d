// --exclude: names the walk leaves alone. A pattern is a shell glob matched
// against one name at a time (a folder's, a file's, or one part of an
// archive entry's path), never against a whole path.
#pragma once

// Adds a pattern (kept as a pointer: argv outlives the walk); before the walk.
void add_excluded_pattern(const char* pattern);

// Whether any pattern was given.
bool has_excluded_patterns();

// Whether a folder's or file's own name matches a pattern.
bool is_excluded_name(const char* name);

// Whether an archive entry's name, or any folder on its path inside the
// archive, matches a pattern.
bool is_excluded_entry(const char* entry_name);
