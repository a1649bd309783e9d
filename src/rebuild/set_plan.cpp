// Set planning. Under split, ROMs shared along the parent and BIOS chain
// are left to the set that owns them. A ROM left to a donor must end up in
// some set: a donor keeps it or leaves it to its own donor, so the links
// (cloneof and romof) must not run in a circle, or every set on it would
// leave the ROM to the next. A set from which the links lead back to itself
// (or further than a DAT sensibly chains) therefore keeps all its ROMs; a
// link to a set the DAT does not hold is no link.
#include "rebuild/set_plan.h"

#include <algorithm>
#include <cstring>

#include "rebuild/rom_names.h"
#include "rebuild/torrentzip_format.h"

namespace {

// How far romof is followed: a clone, its parent, the parent's BIOS, and
// room for DATs that chain further; a circle ends here too.
constexpr int max_romof_steps = 8;

// The sets a set may take ROMs from: its parent, and its romof chain, the
// last of which (when it is neither the set nor its parent) is its BIOS.
struct Donors {
  int64_t parent;
  int64_t chain[max_romof_steps];
  int chain_size;
  int64_t bios;
};

constexpr int max_linked_sets = 64;

int64_t find_linked(const DatFile& dat, DatText name) {
  return name == 0 ? -1 : find_dat_set(dat, dat_text(dat, name));
}

// True when the cloneof and romof links from the set reach it again, or
// more sets than any sound DAT links.
bool links_back_to_itself(const DatFile& dat, uint32_t set_index) {
  int64_t pending[max_linked_sets];
  int pending_count = 0;
  int visited = 0;
  pending[pending_count++] = set_index;
  while (pending_count != 0) {
    const DatSet& set = dat.sets[pending[--pending_count]];
    for (const DatText link : {set.cloneof, set.romof}) {
      const int64_t linked = find_linked(dat, link);
      if (linked < 0) continue;
      if (linked == set_index || ++visited >= max_linked_sets) return true;
      pending[pending_count++] = linked;
    }
  }
  return false;
}

Donors find_donors(const DatFile& dat, uint32_t set_index) {
  const DatSet& set = dat.sets[set_index];
  Donors donors{-1, {}, 0, -1};
  if (links_back_to_itself(dat, set_index)) return donors;
  if (set.cloneof != 0) donors.parent = find_dat_set(dat, dat_text(dat, set.cloneof));
  DatText next = set.romof;
  while (next != 0 && donors.chain_size < max_romof_steps) {
    const int64_t found = find_dat_set(dat, dat_text(dat, next));
    if (found < 0 || found == set_index) break;
    donors.chain[donors.chain_size++] = found;
    next = dat.sets[found].romof;
  }
  if (donors.chain_size != 0 && donors.chain[donors.chain_size - 1] != donors.parent) {
    donors.bios = donors.chain[donors.chain_size - 1];
  }
  return donors;
}

// Two records of one ROM: every sum both give agrees.
bool is_same_rom(const DatRom& a, const DatRom& b) {
  const uint8_t both = a.fields & b.fields;
  return !((both & dat_has_size) != 0 && a.size != b.size) && !((both & dat_has_crc) != 0 && a.crc != b.crc) &&
         !((both & dat_has_sha1) != 0 && std::memcmp(a.sha1, b.sha1, dat_sha1_size) != 0);
}

// The set lists a ROM named `name` that is `rom`, and it is one to write.
bool holds_rom(const DatFile& dat, int64_t set_index, const char* name, const DatRom& rom) {
  if (set_index < 0) return false;
  const DatSet& set = dat.sets[set_index];
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    const DatRom& candidate = dat.roms[set.first_rom + k];
    if (is_required_rom(candidate) && std::strcmp(dat_text(dat, candidate.name), name) == 0 &&
        is_same_rom(candidate, rom)) {
      return true;
    }
  }
  return false;
}

bool is_left_to_donor(const DatFile& dat, const Donors& donors, const DatRom& rom) {
  if (rom.merge == 0) return holds_rom(dat, donors.bios, dat_text(dat, rom.name), rom);
  const char* merge = dat_text(dat, rom.merge);
  if (holds_rom(dat, donors.parent, merge, rom)) return true;
  for (int k = 0; k < donors.chain_size; ++k) {
    if (holds_rom(dat, donors.chain[k], merge, rom)) return true;
  }
  return false;
}

bool add_planned(const DatFile& dat, uint32_t rom_index, SetPlan& plan) {
  const char* name = dat_text(dat, dat.roms[rom_index].name);
  const size_t size = std::strlen(name);
  if (plan.names.count > UINT32_MAX - size - 1 || !reserve_more(plan.names, size + 1)) return false;
  const PlannedRom planned{rom_index, static_cast<uint32_t>(plan.names.count)};
  copy_with_forward_slashes(name, size, plan.names.items + plan.names.count);
  plan.names.count += size + 1;
  return push_back(plan.roms, planned);
}

// Sorts into TorrentZip order and drops repeats of one ROM; false when two
// different ROMs share a name.
bool order_and_merge_repeats(const DatFile& dat, SetPlan& plan, uint32_t& problem_rom) {
  std::stable_sort(plan.roms.begin(), plan.roms.end(), [&plan](const PlannedRom& a, const PlannedRom& b) {
    return torrentzip_name_less(planned_rom_name(plan, a), planned_rom_name(plan, b));
  });
  size_t kept = 0;
  for (size_t k = 0; k < plan.roms.count; ++k) {
    const PlannedRom& rom = plan.roms[k];
    if (kept != 0 && std::strcmp(planned_rom_name(plan, plan.roms[kept - 1]), planned_rom_name(plan, rom)) == 0) {
      if (is_same_rom(dat.roms[plan.roms[kept - 1].rom], dat.roms[rom.rom])) continue;
      problem_rom = rom.rom;
      return false;
    }
    plan.roms[kept++] = rom;
  }
  plan.roms.count = kept;
  return true;
}

}  // namespace

bool plan_set(const DatFile& dat, uint32_t set_index, MergeMode mode, SetPlan& plan, PlanProblem& problem,
              uint32_t& problem_rom) {
  clear_array(plan.roms);
  clear_array(plan.names);
  problem = PlanProblem::None;
  problem_rom = 0;
  const DatSet& set = dat.sets[set_index];
  if (!is_safe_relative_name(dat_text(dat, set.name), false)) {
    problem = PlanProblem::UnsafeSetName;
    return false;
  }
  const Donors donors = mode == MergeMode::Split ? find_donors(dat, set_index) : Donors{-1, {}, 0, -1};
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    const uint32_t rom_index = set.first_rom + k;
    const DatRom& rom = dat.roms[rom_index];
    if (!is_required_rom(rom) || is_left_to_donor(dat, donors, rom)) continue;
    if (!add_planned(dat, rom_index, plan)) {
      problem = PlanProblem::OutOfMemory;
      return false;
    }
    if (!is_safe_relative_name(planned_rom_name(plan, plan.roms[plan.roms.count - 1]), true)) {
      problem = PlanProblem::UnsafeRomName;
      problem_rom = rom_index;
      return false;
    }
  }
  if (order_and_merge_repeats(dat, plan, problem_rom)) return true;
  problem = PlanProblem::ClashingNames;
  return false;
}
