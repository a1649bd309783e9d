// The places of images inside sets: an entry of the set's archive, or a
// file in the set's folder, at any depth of the path or of nested archives.
#include "audit/in_place.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "archive/archive_kind.h"
#include "dat/dat_writer.h"

namespace {

bool is_boundary(const ImagePlace& place, size_t position) {
  return std::binary_search(place.boundaries.begin(), place.boundaries.end(), position);
}

// Where a name may start: the beginning, after a '/', or after a level.
bool may_start_at(const ImagePlace& place, size_t start) {
  return start == 0 || place.name[start - 1] == '/' || is_boundary(place, start - 1);
}

// Whether name[start, end) is `text`, as it is or in a written DAT's form.
bool part_is(const ImagePlace& place, size_t start, size_t end, const char* text) {
  const std::string_view part(place.name.data() + start, end - start);
  if (part == text) return true;
  return std::strchr(text, '%') != nullptr && dat_form_of_name(part) == text;
}

std::string_view last_part(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  const size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Whether name[0, end) ends in the set's name, starting where a name may.
bool ends_with_set(const ImagePlace& place, size_t end, const char* set_name, bool is_folder) {
  if (*set_name == '\0') return false;
  for (size_t start = 0; start < end; ++start) {
    if (may_start_at(place, start) && part_is(place, start, end, set_name)) return true;
  }
  if (!is_folder) return false;
  // "./a.bin", "a.bin": the folder is the current one, named by what it is.
  const std::string_view folder(place.name.data(), end);
  const std::string_view last = last_part(folder);
  if (!last.empty() && last != "." && last != "..") return false;
  return folder_name(folder) == set_name || dat_form_of_name(folder_name(folder)) == set_name;
}

}  // namespace

ImagePlace place_of(const Provenance& origin) {
  ImagePlace place;
  place.name = origin.file ? std::string(origin.file->path(), origin.file->path_size) : std::string();
  std::vector<const ChainLevel*> levels(static_cast<size_t>(chain_depth(origin)));
  chain_levels(origin, levels.data());
  size_t piece_start = 0;
  for (const ChainLevel* level : levels) {
    const std::string container = place.name.substr(piece_start);
    place.boundaries.push_back(place.name.size());
    place.name += '?';
    piece_start = place.name.size();
    place.name += level_name(*level, container);
  }
  return place;
}

namespace {

bool is_in_set_as_named(const ImagePlace& place, const char* set_name, const char* rom_name) {
  const size_t size = place.name.size();
  // The ROM lies within the last level.
  const size_t last_level = place.boundaries.empty() ? 0 : place.boundaries.back() + 1;
  for (size_t start = last_level; start < size; ++start) {
    if (!may_start_at(place, start) || !part_is(place, start, size, rom_name)) continue;
    // A loose file named alone lies in the current folder.
    if (start == 0) return ends_with_set(place, 0, set_name, true);
    const size_t separator = start - 1;
    if (is_boundary(place, separator)) {
      const size_t suffix_size = archive_suffix_length(place.name.data(), separator);
      if (suffix_size != 0 && ends_with_set(place, separator - suffix_size, set_name, false)) return true;
      continue;
    }
    // "roms//a.bin" when the path was given as "roms/".
    size_t container_end = separator;
    while (container_end > 0 && place.name[container_end - 1] == '/') --container_end;
    if (ends_with_set(place, container_end, set_name, true)) return true;
  }
  return false;
}

}  // namespace

// A DAT may write '\' between a ROM's folders; archives and the rebuild
// store '/'.
bool is_in_set(const ImagePlace& place, const char* set_name, const char* rom_name) {
  if (is_in_set_as_named(place, set_name, rom_name)) return true;
  if (std::strchr(rom_name, '\\') == nullptr) return false;
  std::string with_slashes(rom_name);
  std::replace(with_slashes.begin(), with_slashes.end(), '\\', '/');
  return is_in_set_as_named(place, set_name, with_slashes.c_str());
}

std::string folder_name(std::string_view folder) {
  const std::string_view last = last_part(folder);
  if (last == "/") return {};  // the root has no name
  if (!last.empty() && last != "." && last != "..") return std::string(last);
  const std::string path = folder.empty() ? std::string(".") : std::string(folder);
  const std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  if (resolved == nullptr) return std::string(last);
  return std::string(last_part(resolved.get()));
}
