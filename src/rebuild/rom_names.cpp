// Names as paths: what may be written under the output folder.
#include "rebuild/rom_names.h"

#include <cstring>

bool is_safe_relative_name(const char* name, bool folders_allowed) {
  if (name[0] == 0 || std::strchr(name, '\\') != nullptr) return false;
  const char* component = name;
  for (;;) {
    const char* slash = std::strchr(component, '/');
    const size_t size = slash == nullptr ? std::strlen(component) : static_cast<size_t>(slash - component);
    if (size == 0 || (size == 1 && component[0] == '.') || (size == 2 && component[0] == '.' && component[1] == '.')) {
      return false;
    }
    if (slash == nullptr) return true;
    if (!folders_allowed) return false;
    component = slash + 1;
  }
}

void copy_with_forward_slashes(const char* name, size_t size, char* out) {
  for (size_t k = 0; k < size; ++k) out[k] = name[k] == '\\' ? '/' : name[k];
  out[size] = 0;
}
