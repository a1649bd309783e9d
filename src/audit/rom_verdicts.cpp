// A ROM's verdict, from the most to the least in order: in place; its bytes
// in the set's place under another name (misnamed); the set's place holds
// an image under its name with other bytes (wrong) or one that failed to
// read (unreadable); its bytes only outside (elsewhere); nowhere (missing).
#include "audit/rom_verdicts.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "audit/disk_matching.h"
#include "dat/dat_writer.h"

namespace {

struct Candidate {
  uint32_t place;
  std::string_view name;  // its name in the set's place
  bool own;               // in the set's own place, not a parent's
};

bool is_named(std::string_view name, const char* dat_name) {
  const std::string wanted = with_slashes(dat_name);
  if (name == wanted) return true;
  return wanted.find('%') != std::string::npos && dat_form_of_name(name) == wanted;
}

void gather_candidates(const DatFile& dat, const AuditResult& result, uint32_t set_index,
                       std::vector<Candidate>& candidates) {
  uint32_t related[max_related_sets];
  const int count = related_sets(dat, set_index, related);
  std::vector<uint32_t> found;
  for (int k = 0; k < count; ++k) {
    const char* set_name = dat_text(dat, dat.sets[related[k]].name);
    found.clear();
    candidates_in_set(result.places, set_name, found);
    for (const uint32_t place : found) {
      const std::string_view name = name_in_set(result.places.places[place], set_name);
      if (!name.empty()) candidates.push_back({place, name, k == 0});
    }
  }
  const DatSet& set = dat.sets[set_index];
  if (set.rom_count != 1 || set.disk_count != 0) return;
  const char* rom_name = dat_text(dat, dat.roms[set.first_rom].name);
  found.clear();
  loose_candidates(result.places, rom_name, found);
  for (const uint32_t place : found) {
    if (is_loose_as(result.places.places[place], rom_name)) candidates.push_back({place, rom_name, true});
  }
}

RomJudgement judge_rom(const DatFile& dat, const AuditResult& result, uint32_t dat_index, uint32_t index,
                       const std::vector<Candidate>& candidates) {
  const DatRom& rom = dat.roms[index];
  if (!is_required_rom(rom)) return {RomVerdict::Nodump, no_place};
  const RomMatches matches = rom_matches(result, dat_index, index);
  for (uint32_t k = 0; k < matches.count; ++k) {
    if (matches.first[k].in_place) return {RomVerdict::InPlace, matches.first[k].image};
  }
  for (uint32_t k = 0; k < matches.count; ++k) {
    const auto at = [&](const Candidate& c) { return c.place == matches.first[k].image; };
    if (std::any_of(candidates.begin(), candidates.end(), at)) return {RomVerdict::Misnamed, matches.first[k].image};
  }
  const char* merge = rom.merge != 0 ? dat_text(dat, rom.merge) : nullptr;
  for (const Candidate& candidate : candidates) {
    const bool named = is_named(candidate.name, dat_text(dat, rom.name)) ||
                       (!candidate.own && merge && is_named(candidate.name, merge));
    if (!named) continue;
    const bool failed = candidate.place >= result.places.image_count;
    return {failed ? RomVerdict::Unreadable : RomVerdict::Wrong, candidate.place};
  }
  if (matches.count != 0) return {RomVerdict::Elsewhere, matches.first[0].image};
  return {RomVerdict::Missing, no_place};
}

RomJudgement judge_disk(const DatFile& dat, const AuditResult& result, uint32_t dat_index, uint32_t index) {
  if (!is_required_disk(dat.disks[index])) return {RomVerdict::Nodump, no_place};
  const RomMatches matches = disk_matches_of(result, dat_index, index);
  for (uint32_t k = 0; k < matches.count; ++k) {
    if (matches.first[k].in_place) return {RomVerdict::InPlace, matches.first[k].image};
  }
  if (matches.count != 0) return {RomVerdict::Elsewhere, matches.first[0].image};
  return {RomVerdict::Missing, no_place};
}

bool is_kept(const SetJudgement& judged, uint32_t place) {
  const auto keeps = [&](const RomJudgement& rom) {
    return rom.place == place && rom.verdict != RomVerdict::Elsewhere && rom.verdict != RomVerdict::Missing;
  };
  return std::any_of(judged.roms.begin(), judged.roms.end(), keeps) ||
         std::any_of(judged.disks.begin(), judged.disks.end(), keeps);
}

}  // namespace

void judge_set_by_place(const DatFile& dat, const AuditResult& result, uint32_t dat_index, uint32_t set_index,
                        SetJudgement& judged) {
  const DatSet& set = dat.sets[set_index];
  std::vector<Candidate> candidates;
  gather_candidates(dat, result, set_index, candidates);
  judged.roms.clear();
  judged.disks.clear();
  judged.unneeded.clear();
  judged.anything_in_place = false;
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    judged.roms.push_back(judge_rom(dat, result, dat_index, set.first_rom + k, candidates));
    judged.anything_in_place = judged.anything_in_place || judged.roms.back().verdict == RomVerdict::InPlace;
  }
  for (uint32_t k = 0; k < set.disk_count; ++k) {
    judged.disks.push_back(judge_disk(dat, result, dat_index, set.first_disk + k));
    judged.anything_in_place = judged.anything_in_place || judged.disks.back().verdict == RomVerdict::InPlace;
  }
  for (const Candidate& candidate : candidates) {
    if (!candidate.own) continue;
    judged.anything_in_place = true;
    if (candidate.place >= result.places.image_count || result.image_in_place[candidate.place]) continue;
    if (is_kept(judged, candidate.place)) continue;
    if (std::find(judged.unneeded.begin(), judged.unneeded.end(), candidate.place) != judged.unneeded.end()) continue;
    judged.unneeded.push_back(candidate.place);
  }
}

const char* rom_verdict_word(RomVerdict verdict) {
  switch (verdict) {
    case RomVerdict::InPlace:
      return "in_place";
    case RomVerdict::Misnamed:
      return "misnamed";
    case RomVerdict::Wrong:
      return "wrong";
    case RomVerdict::Unreadable:
      return "unreadable";
    case RomVerdict::Elsewhere:
      return "elsewhere";
    case RomVerdict::Missing:
      return "missing";
    case RomVerdict::Nodump:
      return "nodump";
  }
  return "missing";
}
