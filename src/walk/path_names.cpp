// Display-name helpers shared by the path and archive walkers.
#include "walk/path_names.h"

#include <cstring>

std::unique_ptr<char[]> join_path(const char* a, char separator, const char* b) {
  const size_t a_length = std::strlen(a);
  const size_t b_length = std::strlen(b);
  std::unique_ptr<char[]> joined(new char[a_length + b_length + 2]);
  std::memcpy(joined.get(), a, a_length);
  joined[a_length] = separator;
  std::memcpy(joined.get() + a_length + 1, b, b_length + 1);
  return joined;
}

namespace {

char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool has_zip_suffix(const char* name) {
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return false;
  const char suffix[] = ".zip";
  for (size_t i = 0; i < sizeof suffix; ++i) {  // the NUL must match too
    if (ascii_lower(dot[i]) != suffix[i]) return false;
  }
  return true;
}
