// Grouping catalogued images into sets by where they lie.
#include "audit/dir2dat.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <vector>

#include "archive/archive_kind.h"
#include "audit/in_place.h"

namespace {

std::string_view without_archive_suffix(std::string_view name) {
  return name.substr(0, name.size() - archive_suffix_length(name.data(), name.size()));
}

// The name of what lies at path[0, end), below the path given or by its own
// last part.
std::string below_given(std::string_view path, size_t end, size_t given_size) {
  if (given_size < end && path[given_size] == '/') {
    return std::string(path.substr(given_size + 1, end - given_size - 1));
  }
  return folder_name(path.substr(0, std::min(given_size, end)));
}

// A folder's key and an archive's differ in their first byte.
std::string tagged_key(char tag, std::string_view name) {
  std::string key(name.size() + 1, tag);
  if (!name.empty()) std::memcpy(key.data() + 1, name.data(), name.size());
  return key;
}

struct Entry {
  const std::string* set;
  std::string rom;
  uint32_t index;
};

bool entry_before(const Entry& a, const Entry& b) {
  if (*a.set != *b.set) return *a.set < *b.set;
  if (a.rom != b.rom) return a.rom < b.rom;
  return a.index < b.index;
}

DatRom rom_of(const AuditForm& form, bool with_md5) {
  DatRom rom{};
  rom.size = form.size;
  rom.crc = form.crc;
  rom.fields = dat_has_size | dat_has_crc;
  if (form.sha1 != nullptr) {
    rom.fields |= dat_has_sha1;
    std::memcpy(rom.sha1, form.sha1, dat_sha1_size);
  }
  if (form.sha256 != nullptr) {
    rom.fields |= dat_has_sha256;
    std::memcpy(rom.sha256, form.sha256, dat_sha256_size);
  }
  if (with_md5 && form.md5 != nullptr) {
    rom.fields |= dat_has_md5;
    std::memcpy(rom.md5, form.md5, dat_md5_size);
  }
  return rom;
}

struct Container {
  std::string wanted;  // the set name it would have alone
  int32_t first_found;
  std::vector<std::string> wider;  // longer names that still say where it lies, shortest first
  std::string set;                 // the name it gets
};

// The container's whole name (without an archive suffix) and its ends that
// begin after a '/' or a level, shortest first: a set of any of these names
// is still in place.
std::vector<std::string> wider_names(const Provenance& origin) {
  ImagePlace place;
  if (!origin.entry) {
    const std::string_view path(origin.file->path(), origin.file->path_size);
    const size_t slash = path.rfind('/');
    place.name = std::string(path.substr(0, slash == std::string_view::npos ? 0 : slash));
  } else {
    const Provenance archive{origin.file, SharedRecord<ChainLevel>(origin.entry->outer)};
    if (origin.entry->outer != nullptr) add_reference(origin.entry->outer);
    place = place_of(archive);
    place.name.resize(place.name.size() - archive_suffix_length(place.name.data(), place.name.size()));
  }
  std::vector<std::string> names;
  for (size_t start = place.name.size(); start-- > 0;) {
    const bool after_level =
        start != 0 && std::binary_search(place.boundaries.begin(), place.boundaries.end(), start - 1);
    const bool may_start = start == 0 || place.name[start - 1] == '/' || after_level;
    if (may_start && place.name[start] != '/') names.push_back(place.name.substr(start));
  }
  return names;
}

// Each container its set name, in the order the walk reached them.
void name_sets(std::map<std::string, Container>& containers) {
  std::vector<Container*> order;
  order.reserve(containers.size());
  for (auto& [key, container] : containers) order.push_back(&container);
  std::stable_sort(order.begin(), order.end(),
                   [](const Container* a, const Container* b) { return a->first_found < b->first_found; });
  std::set<std::string> taken;
  for (Container* container : order) {
    std::string name = container->wanted;
    for (const std::string& wider : container->wider) {
      if (taken.count(name) == 0) break;
      if (wider.size() > container->wanted.size()) name = wider;
    }
    for (int k = 2; taken.count(name) != 0; ++k) {
      name.assign(container->wanted);
      name.append(" (").append(std::to_string(k)).append(")");
    }
    taken.insert(name);
    container->set = name;
  }
}

}  // namespace

SetAndRom set_and_rom_of(const Provenance& origin, size_t given_size) {
  const std::string_view path = origin.file ? std::string_view(origin.file->path(), origin.file->path_size) : "";
  const int depth = chain_depth(origin);
  SetAndRom names;
  if (depth == 0) {
    size_t folder_end = path.rfind('/');
    names.rom = std::string(folder_end == std::string_view::npos ? path : path.substr(folder_end + 1));
    if (folder_end == std::string_view::npos) folder_end = 0;
    if (folder_end == 0 && !path.empty() && path[0] == '/') folder_end = 1;  // in the root
    // "roms//a.bin" when the path was given as "roms/".
    while (folder_end > 1 && path[folder_end - 1] == '/') --folder_end;
    names.container = tagged_key('/', path.substr(0, folder_end));
    names.set =
        given_size >= path.size() ? folder_name(path.substr(0, folder_end)) : below_given(path, folder_end, given_size);
  } else {
    std::vector<const ChainLevel*> levels(static_cast<size_t>(depth));
    chain_levels(origin, levels.data());
    std::string_view container = path;
    for (int k = 0; k + 1 < depth; ++k) container = level_name(*levels[static_cast<size_t>(k)], container);
    names.rom = std::string(level_name(*levels.back(), container));
    const Provenance archive{origin.file, SharedRecord<ChainLevel>(levels.back()->outer)};
    if (levels.back()->outer != nullptr) add_reference(levels.back()->outer);
    names.container = tagged_key('?', display_name(archive));
    names.set = std::string(
        without_archive_suffix(depth == 1 ? below_given(path, path.size(), given_size) : std::string(container)));
  }
  // Nothing names the container ("/x", ".zip?x"): the ROM's own name does.
  if (names.set.empty()) names.set = names.rom;
  return names;
}

bool build_dir2dat(const CataloguedImage* images, size_t count, bool with_md5, DatFile& dat) {
  if (!begin_dat(dat)) return false;
  std::map<std::string, Container> containers;
  std::vector<SetAndRom> names(count);
  for (size_t i = 0; i < count; ++i) {
    names[i] = set_and_rom_of(*images[i].image->origin, images[i].given_size);
    auto [found, added] =
        containers.try_emplace(names[i].container, Container{names[i].set, images[i].walk_order, {}, {}});
    if (added) found->second.wider = wider_names(*images[i].image->origin);
    if (!added) found->second.first_found = std::min(found->second.first_found, images[i].walk_order);
  }
  name_sets(containers);
  std::vector<Entry> entries;
  entries.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    entries.push_back(Entry{&containers[names[i].container].set, std::move(names[i].rom), static_cast<uint32_t>(i)});
  }
  std::sort(entries.begin(), entries.end(), entry_before);
  for (size_t k = 0; k < entries.size(); ++k) {
    const Entry& entry = entries[k];
    if (k == 0 || *entries[k - 1].set != *entry.set) {
      DatSet set{};
      if (!add_dat_text(dat, entry.set->data(), entry.set->size(), set.name) || !add_dat_set(dat, set)) return false;
    }
    DatRom rom = rom_of(images[entry.index].image->whole, with_md5);
    if (!add_dat_text(dat, entry.rom.c_str(), rom.name) || !add_dat_rom(dat, rom)) return false;
  }
  return finish_dat(dat);
}
