// Where --cache keeps its file when no FILE is given.
#pragma once

#include <string>

// "$XDG_CACHE_HOME/imgchk/cache.sqlite", or "$HOME/.cache/imgchk/cache.sqlite"
// when XDG_CACHE_HOME is unset, empty or relative (the base directory rule
// ignores a relative one); "" when neither is usable. Either may be null.
std::string default_cache_path(const char* xdg_cache_home, const char* home);

// Creates the folders above `file_path` that are missing, each with mode
// 0700. False when one cannot be made.
bool make_cache_folders(const std::string& file_path);
