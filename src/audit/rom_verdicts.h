// What the audit says of each ROM of a set, read from what lies in the
// set's place (its archive or folder, or up its parents'; for a set of one
// ROM also a plain file named as the ROM, in any folder).
#pragma once

#include <cstdint>
#include <vector>

#include "audit/matching.h"
#include "dat/dat_file.h"

enum class RomVerdict : uint8_t { InPlace, Misnamed, Wrong, Unreadable, Elsewhere, Missing, Nodump };

constexpr uint32_t no_place = UINT32_MAX;

struct RomJudgement {
  RomVerdict verdict;
  uint32_t place;  // the image (or, past the images, the failure) the verdict names; no_place for none
};

struct SetJudgement {
  std::vector<RomJudgement> roms;   // per ROM of the set, in DAT order
  std::vector<RomJudgement> disks;  // per disk, likewise (in place, elsewhere, missing or nodump)
  std::vector<uint32_t> unneeded;   // images in the set's own place that no ROM keeps there
  bool anything_in_place = false;   // a ROM in place, or any image or failure in the set's place
};

void judge_set_by_place(const DatFile& dat, const AuditResult& result, uint32_t dat_index, uint32_t set_index,
                        SetJudgement& judged);

// The word of a verdict in JSON.
const char* rom_verdict_word(RomVerdict verdict);
