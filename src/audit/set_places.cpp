// Every archive or folder an image lies in could be some set's place: each
// is keyed by its last part, so a set's lookup costs one hash and a check
// of the few images found.
#include "audit/set_places.h"

#include <algorithm>

#include "archive/archive_kind.h"
#include "dat/dat_writer.h"

namespace {

void add_key(std::unordered_map<std::string, std::vector<uint32_t>>& map, std::string_view key, uint32_t index) {
  if (key.empty()) return;
  std::vector<uint32_t>& list = map[std::string(key)];
  if (list.empty() || list.back() != index) list.push_back(index);
  const std::string written = dat_form_of_name(key);
  if (written == key) return;
  std::vector<uint32_t>& written_list = map[written];
  if (written_list.empty() || written_list.back() != index) written_list.push_back(index);
}

// The containers of the last level: the archive holding it (or, for a
// plain file, nothing) and each folder within it.
void add_containers(SetPlaces& places, const ImagePlace& place, uint32_t index) {
  const std::string& name = place.name;
  const size_t last_level = place.boundaries.empty() ? 0 : place.boundaries.back() + 1;
  if (last_level != 0) {
    const size_t separator = last_level - 1;
    const size_t suffix_size = archive_suffix_length(name.data(), separator);
    const size_t level_start = place.boundaries.size() > 1 ? place.boundaries[place.boundaries.size() - 2] + 1 : 0;
    const std::string_view archive(name.data() + level_start, separator - suffix_size - level_start);
    add_key(places.by_container, last_name_part(archive), index);
  }
  for (size_t k = last_level; k < name.size(); ++k) {
    if (name[k] != '/') continue;
    size_t end = k;
    while (end > last_level && name[end - 1] == '/') --end;
    const std::string_view folder(name.data() + last_level, end - last_level);
    add_key(places.by_container, last_name_part(folder), index);
    if (last_level == 0) add_key(places.by_container, folder_name(name.substr(0, end)), index);
  }
  if (last_level == 0 && name.find('/') == std::string::npos) {
    add_key(places.by_container, folder_name(""), index);  // in the current folder
  }
}

}  // namespace

void index_set_places(const AuditImage* images, size_t image_count, const Provenance* failures, size_t failure_count,
                      SetPlaces& places) {
  places.image_count = image_count;
  places.places.reserve(image_count + failure_count);
  for (size_t i = 0; i < image_count; ++i) places.places.push_back(place_of(*images[i].origin));
  for (size_t f = 0; f < failure_count; ++f) places.places.push_back(place_of(failures[f]));
  for (size_t i = 0; i < places.places.size(); ++i) {
    const ImagePlace& place = places.places[i];
    const auto index = static_cast<uint32_t>(i);
    add_containers(places, place, index);
    if (place.boundaries.empty()) add_key(places.loose_by_name, last_name_part(place.name), index);
  }
}

void candidates_in_set(const SetPlaces& places, const char* set_name, std::vector<uint32_t>& found) {
  const std::string name = with_slashes(set_name);
  const auto list = places.by_container.find(std::string(last_name_part(name)));
  if (list != places.by_container.end()) found.insert(found.end(), list->second.begin(), list->second.end());
}

void loose_candidates(const SetPlaces& places, const char* rom_name, std::vector<uint32_t>& found) {
  const std::string name = with_slashes(rom_name);
  const auto list = places.loose_by_name.find(std::string(last_name_part(name)));
  if (list != places.loose_by_name.end()) found.insert(found.end(), list->second.begin(), list->second.end());
}
