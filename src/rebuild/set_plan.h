// Which of a DAT set's ROMs its rebuilt archive holds, under each way of
// sharing ROMs between sets, and the names they are written under.
#pragma once

#include <cstdint>

#include "base/grow_array.h"
#include "dat/dat_file.h"

enum class MergeMode : uint8_t {
  NonMerged,  // every ROM the DAT lists under the set
  Split,      // without the ROMs its parent or its BIOS holds
};

struct PlannedRom {
  uint32_t rom;          // index into the DAT's ROMs
  uint32_t name_offset;  // into SetPlan::names: its name, `\` written `/`
};

struct SetPlan {
  GrowArray<PlannedRom> roms;  // in TorrentZip order, one per name
  GrowArray<char> names;
};

enum class PlanProblem : uint8_t {
  None,
  UnsafeSetName,  // empty, `.`, `..`, or holding `/` or `\`: no file name in the output folder
  UnsafeRomName,  // a name that would leave the set's folder
  ClashingNames,  // two different ROMs of one name
  OutOfMemory,
};

// Fills `plan` (emptied first) with the set's ROMs under `mode`. ROMs never
// dumped, or that nothing identifies, are left out: no image is theirs. A
// ROM listed twice under one name is written once. Under Split, a ROM that
// carries `merge` is left out when its parent (cloneof) or a set it takes
// ROMs from (romof, followed to the BIOS) lists that ROM, and a ROM without
// `merge` when its BIOS lists the same ROM; a ROM whose sums differ from the
// one it names stays. False with the problem, and in `problem_rom` the
// index of the ROM it concerns (UnsafeRomName, ClashingNames).
bool plan_set(const DatFile& dat, uint32_t set_index, MergeMode mode, SetPlan& plan, PlanProblem& problem,
              uint32_t& problem_rom);

inline const char* planned_rom_name(const SetPlan& plan, const PlannedRom& rom) {
  return plan.names.items + rom.name_offset;
}
