// Where --cache keeps its file when no FILE is given, and the file's making.
#pragma once

#include <string>

#include "cache/cache_problem.h"

// "$XDG_CACHE_HOME/imgchk/cache.sqlite", or "$HOME/.cache/imgchk/cache.sqlite"
// when XDG_CACHE_HOME is unset, empty or relative (the base directory rule
// ignores a relative one); "" when neither is usable. Either may be null.
std::string default_cache_path(const char* xdg_cache_home, const char* home);

// Creates the folders above `file_path` that are missing, each with mode
// 0700. False when one cannot be made.
bool make_cache_folders(const std::string& file_path);

// Creates the cache file at `path` (mode 0600) when missing. False, with
// the problem, when it cannot be opened for writing or is no regular file;
// a final symbolic link is never followed (SymbolicLink), so that no file
// appears where a link points.
bool make_private_cache_file(const char* path, CacheProblem& problem);
