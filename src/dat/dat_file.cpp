// The DAT's records: appending while a reader goes, and the pass at the end
// that resolves parent ids and sorts the set names for lookups.
#include "dat/dat_file.h"

#include <algorithm>
#include <cstring>

bool begin_dat(DatFile& dat) {
  free_dat(dat);
  return push_back(dat.arena, '\0');
}

bool add_dat_text(DatFile& dat, const char* text, size_t size, DatText& out) {
  if (size == 0) {
    out = 0;
    return true;
  }
  if (dat.arena.count + size + 1 > UINT32_MAX) return false;
  if (!reserve_more(dat.arena, size + 1)) return false;
  out = static_cast<DatText>(dat.arena.count);
  append(dat.arena, text, size);
  push_back(dat.arena, '\0');
  return true;
}

bool add_dat_text(DatFile& dat, const char* text, DatText& out) {
  return add_dat_text(dat, text, std::strlen(text), out);
}

bool add_dat_set(DatFile& dat, const DatSet& set) {
  if (dat.sets.count >= UINT32_MAX) return false;
  DatSet added = set;
  added.first_rom = static_cast<uint32_t>(dat.roms.count);
  added.rom_count = 0;
  added.first_disk = static_cast<uint32_t>(dat.disks.count);
  added.disk_count = 0;
  return push_back(dat.sets, added);
}

bool add_dat_disk(DatFile& dat, DatDisk disk) {
  if (dat.sets.count == 0 || dat.disks.count >= UINT32_MAX) return false;
  disk.set = static_cast<uint32_t>(dat.sets.count - 1);
  if (!push_back(dat.disks, disk)) return false;
  ++dat.sets[dat.sets.count - 1].disk_count;
  return true;
}

bool add_dat_rom(DatFile& dat, DatRom rom) {
  if (dat.sets.count == 0 || dat.roms.count >= UINT32_MAX) return false;
  rom.set = static_cast<uint32_t>(dat.sets.count - 1);
  if (!push_back(dat.roms, rom)) return false;
  ++dat.sets[dat.sets.count - 1].rom_count;
  return true;
}

namespace {

// Set indices ordered by one of their texts; ties keep DAT order.
bool sort_sets_by(const DatFile& dat, DatText DatSet::*field, GrowArray<uint32_t>& order) {
  clear_array(order);
  if (!reserve_more(order, dat.sets.count)) return false;
  for (uint32_t i = 0; i < dat.sets.count; ++i) order.items[i] = i;
  order.count = dat.sets.count;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return std::strcmp(dat_text(dat, dat.sets[a].*field), dat_text(dat, dat.sets[b].*field)) < 0;
  });
  return true;
}

const uint32_t* find_by(const DatFile& dat, const GrowArray<uint32_t>& order, DatText DatSet::*field,
                        const char* text) {
  const uint32_t* found = std::lower_bound(order.begin(), order.end(), text, [&](uint32_t index, const char* key) {
    return std::strcmp(dat_text(dat, dat.sets[index].*field), key) < 0;
  });
  if (found == order.end() || std::strcmp(dat_text(dat, dat.sets[*found].*field), text) != 0) return nullptr;
  return found;
}

// A set index or a name, for searches by name.
const char* name_of(const DatFile& dat, uint32_t set_index) {
  return dat_text(dat, dat.sets[set_index].name);
}

const char* name_of(const DatFile&, const char* name) {
  return name;
}

// No-Intro's standard DATs name the parent by its numeric id.
bool resolve_parent_ids(DatFile& dat) {
  bool any = false;
  for (const DatSet& set : dat.sets) any = any || (set.cloneofid != 0 && set.cloneof == 0);
  if (!any) return true;
  GrowArray<uint32_t> by_id;
  if (!sort_sets_by(dat, &DatSet::id, by_id)) return false;
  for (DatSet& set : dat.sets) {
    if (set.cloneofid == 0 || set.cloneof != 0) continue;
    const uint32_t* parent = find_by(dat, by_id, &DatSet::id, dat_text(dat, set.cloneofid));
    if (parent != nullptr && dat.sets[*parent].name != set.name) set.cloneof = dat.sets[*parent].name;
  }
  return true;
}

}  // namespace

bool finish_dat(DatFile& dat) {
  if (!resolve_parent_ids(dat)) return false;
  return sort_sets_by(dat, &DatSet::name, dat.sets_by_name);
}

void free_dat(DatFile& dat) {
  clear_array(dat.arena);
  clear_array(dat.sets);
  clear_array(dat.roms);
  clear_array(dat.disks);
  clear_array(dat.sets_by_name);
  dat.name = dat.detector = 0;
  dat.disk_count = 0;
  dat.kind = DatKind::None;
}

int64_t find_dat_set(const DatFile& dat, const char* name) {
  const uint32_t* found = find_by(dat, dat.sets_by_name, &DatSet::name, name);
  return found == nullptr ? -1 : int64_t{*found};
}

DatSetRange find_dat_sets_named(const DatFile& dat, const char* name) {
  const auto range =
      std::equal_range(dat.sets_by_name.begin(), dat.sets_by_name.end(), name,
                       [&](const auto& a, const auto& b) { return std::strcmp(name_of(dat, a), name_of(dat, b)) < 0; });
  return {range.first, range.second};
}

namespace {

bool is_same_set(const DatSet& a, const DatSet& b) {
  return a.name == b.name && a.description == b.description && a.cloneof == b.cloneof && a.romof == b.romof &&
         a.first_rom == b.first_rom && a.rom_count == b.rom_count && a.first_disk == b.first_disk &&
         a.disk_count == b.disk_count;
}

bool is_same_disk(const DatDisk& a, const DatDisk& b) {
  return a.name == b.name && a.merge == b.merge && a.fields == b.fields && a.status == b.status &&
         std::memcmp(a.sha1, b.sha1, sizeof a.sha1) == 0;
}

bool is_same_rom(const DatRom& a, const DatRom& b) {
  return a.size == b.size && a.name == b.name && a.merge == b.merge && a.crc == b.crc && a.fields == b.fields &&
         a.status == b.status && std::memcmp(a.sha1, b.sha1, sizeof a.sha1) == 0 &&
         std::memcmp(a.sha256, b.sha256, sizeof a.sha256) == 0 && std::memcmp(a.md5, b.md5, sizeof a.md5) == 0;
}

}  // namespace

// Texts are compared as arena offsets: equal arenas make them the same.
bool is_same_dat(const DatFile& a, const DatFile& b) {
  if (a.kind != b.kind || a.name != b.name || a.arena.count != b.arena.count || a.sets.count != b.sets.count ||
      a.roms.count != b.roms.count || a.disks.count != b.disks.count) {
    return false;
  }
  if (std::memcmp(a.arena.items, b.arena.items, a.arena.count) != 0) return false;
  for (size_t k = 0; k < a.sets.count; ++k) {
    if (!is_same_set(a.sets[k], b.sets[k])) return false;
  }
  for (size_t k = 0; k < a.roms.count; ++k) {
    if (!is_same_rom(a.roms[k], b.roms[k])) return false;
  }
  for (size_t k = 0; k < a.disks.count; ++k) {
    if (!is_same_disk(a.disks[k], b.disks[k])) return false;
  }
  return true;
}
