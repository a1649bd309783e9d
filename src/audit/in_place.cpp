// Names of images inside sets: an entry of the set's archive, or a file in
// the set's directory, at any depth of the path or of nested archives.
#include "audit/in_place.h"

#include <cstring>

#include "archive/archive_kind.h"

namespace {

bool ends_with(const char* text, size_t size, const char* end, size_t end_size) {
  return size >= end_size && std::memcmp(text + size - end_size, end, end_size) == 0;
}

// Whether text[0, size) ends in the set's name with a boundary before it.
bool ends_with_set(const char* text, size_t size, const char* set_name) {
  const size_t set_size = std::strlen(set_name);
  if (set_size == 0 || !ends_with(text, size, set_name, set_size)) return false;
  if (size == set_size) return true;
  const char before = text[size - set_size - 1];
  return before == '/' || before == '?';
}

}  // namespace

bool is_in_set(const char* image_name, const char* set_name, const char* rom_name) {
  const size_t name_size = std::strlen(image_name);
  const size_t rom_size = std::strlen(rom_name);
  if (rom_size == 0 || !ends_with(image_name, name_size, rom_name, rom_size) || name_size == rom_size) return false;
  size_t container_size = name_size - rom_size - 1;
  const char separator = image_name[container_size];
  if (separator == '/') {
    // "roms//a.bin" when the path was given as "roms/".
    while (container_size > 0 && image_name[container_size - 1] == '/') --container_size;
    return ends_with_set(image_name, container_size, set_name);
  }
  if (separator != '?') return false;
  const size_t suffix_size = archive_suffix_length(image_name, container_size);
  return suffix_size != 0 && ends_with_set(image_name, container_size - suffix_size, set_name);
}
