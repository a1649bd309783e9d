// Paths of directory entries.
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
