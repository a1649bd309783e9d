// The patterns of --exclude and their matching by fnmatch, one name at a
// time, without flags: "*" matches a leading "." too, so that "*.nfo" also
// leaves ".hidden.nfo" out.
#include "walk/exclusion.h"

#include <fnmatch.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<const char*> g_excluded_patterns;

bool matches_any(const char* name) {
  for (const char* pattern : g_excluded_patterns) {
    if (fnmatch(pattern, name, 0) == 0) return true;
  }
  return false;
}

}  // namespace

void add_excluded_pattern(const char* pattern) {
  g_excluded_patterns.push_back(pattern);
}

bool has_excluded_patterns() {
  return !g_excluded_patterns.empty();
}

bool is_excluded_name(const char* name) {
  return !g_excluded_patterns.empty() && matches_any(name);
}

bool is_excluded_entry(const char* entry_name) {
  if (g_excluded_patterns.empty()) return false;
  std::string part;
  for (const char* start = entry_name;;) {
    const char* end = std::strchr(start, '/');
    if (end == nullptr) return *start != '\0' && matches_any(start);
    part.assign(start, end);
    if (!part.empty() && matches_any(part.c_str())) return true;
    start = end + 1;
  }
}
