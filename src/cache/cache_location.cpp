// The cache's default place, and its folders.
#include "cache/cache_location.h"

#include <sys/stat.h>

#include <cerrno>

std::string default_cache_path(const char* xdg_cache_home, const char* home) {
  if (xdg_cache_home != nullptr && xdg_cache_home[0] == '/') {
    return std::string(xdg_cache_home) + "/imgchk/cache.sqlite";
  }
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.cache/imgchk/cache.sqlite";
  return "";
}

bool make_cache_folders(const std::string& file_path) {
  // Each prefix ending before a '/', the root and repeated slashes aside.
  for (size_t slash = file_path.find('/', 1); slash != std::string::npos; slash = file_path.find('/', slash + 1)) {
    if (file_path[slash - 1] == '/') continue;
    const std::string folder = file_path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}
