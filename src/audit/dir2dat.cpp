// Grouping catalogued images into sets by where they lie.
#include "audit/dir2dat.h"

#include <algorithm>
#include <cstring>

#include "archive/archive_kind.h"
#include "audit/in_place.h"

namespace {

// The last part of a path: after its last '/' (a trailing one ignored).
void last_part(const char* path, size_t size, const char*& part, size_t& part_size) {
  while (size > 1 && path[size - 1] == '/') --size;
  size_t start = size;
  while (start > 0 && path[start - 1] != '/') --start;
  part = path + start;
  part_size = size - start;
}

struct Entry {
  SetAndRom names;
  uint32_t index;
};

bool entry_before(const Entry& a, const Entry& b) {
  const int set_order = std::memcmp(a.names.set, b.names.set, std::min(a.names.set_size, b.names.set_size));
  if (set_order != 0) return set_order < 0;
  if (a.names.set_size != b.names.set_size) return a.names.set_size < b.names.set_size;
  const int rom_order = std::strcmp(a.names.rom, b.names.rom);
  if (rom_order != 0) return rom_order < 0;
  return a.index < b.index;
}

bool same_set(const SetAndRom& a, const SetAndRom& b) {
  return a.set_size == b.set_size && std::memcmp(a.set, b.set, a.set_size) == 0;
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

}  // namespace

SetAndRom split_set_and_rom(const char* image_name, size_t given_size) {
  const char* entry = std::strrchr(image_name, '?');
  const char* separator = entry != nullptr ? entry : std::strrchr(image_name, '/');
  if (separator == nullptr) {
    // A file given alone: its name without the suffix.
    const char* dot = std::strrchr(image_name, '.');
    const size_t size =
        dot != nullptr && dot != image_name ? static_cast<size_t>(dot - image_name) : std::strlen(image_name);
    return {image_name, size, image_name};
  }
  const size_t container_size = static_cast<size_t>(separator - image_name);
  SetAndRom names{image_name, container_size, separator + 1};
  if (given_size < container_size && (image_name[given_size] == '/' || image_name[given_size] == '?')) {
    names.set = image_name + given_size + 1;
    names.set_size = container_size - given_size - 1;
  } else {
    last_part(image_name, std::min(given_size, container_size), names.set, names.set_size);
  }
  if (entry != nullptr) names.set_size -= archive_suffix_length(names.set, names.set_size);
  if (names.set_size == 0) {
    // Nothing names the container ("/x", ".zip?x"): the ROM's own name does.
    names.set = names.rom;
    names.set_size = std::strlen(names.rom);
  }
  return names;
}

bool build_dir2dat(const CataloguedImage* images, size_t count, bool with_md5, DatFile& dat) {
  if (!begin_dat(dat)) return false;
  GrowArray<Entry> entries;
  if (!reserve_more(entries, count)) return false;
  for (size_t i = 0; i < count; ++i) {
    entries.items[i] = {split_set_and_rom(images[i].image->name, images[i].given_size), static_cast<uint32_t>(i)};
  }
  entries.count = count;
  std::sort(entries.begin(), entries.end(), entry_before);
  for (size_t k = 0; k < entries.count; ++k) {
    const Entry& entry = entries[k];
    if (k == 0 || !same_set(entries[k - 1].names, entry.names)) {
      DatSet set{};
      if (!add_dat_text(dat, entry.names.set, entry.names.set_size, set.name) || !add_dat_set(dat, set)) return false;
    }
    DatRom rom = rom_of(images[entry.index].image->whole, with_md5);
    if (!add_dat_text(dat, entry.names.rom, rom.name) || !add_dat_rom(dat, rom)) return false;
  }
  return finish_dat(dat);
}
