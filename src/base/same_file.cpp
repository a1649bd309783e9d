// Comparing paths by what they name.
#include "base/same_file.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace {

// The path with its folder resolved; as given when the folder cannot be.
std::string resolved_path(const char* path) {
  std::string text = path;
  const size_t slash = text.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : text.substr(0, slash);
  const std::string name = slash == std::string::npos ? text : text.substr(slash + 1);
  char* resolved = realpath(folder.c_str(), nullptr);
  if (resolved == nullptr) return text;
  std::string out = resolved;
  std::free(resolved);
  if (out.back() != '/') out += '/';
  return out + name;
}

}  // namespace

bool is_same_file(const char* a, const char* b) {
  struct stat a_status {};
  struct stat b_status {};
  const bool a_exists = stat(a, &a_status) == 0;
  const bool b_exists = stat(b, &b_status) == 0;
  if (a_exists && b_exists) return a_status.st_dev == b_status.st_dev && a_status.st_ino == b_status.st_ino;
  if (a_exists || b_exists) return false;
  return resolved_path(a) == resolved_path(b);
}
