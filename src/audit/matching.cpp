// Matching by an index of keys. Every required ROM is indexed once, by its
// CRC-32 when it has one (else by the first four bytes of a digest it
// gives), with its size. Each image looks up its own keys, for each form it
// has, and compares the candidates field by field. Sorting the index costs
// O(R log R) for R ROMs and each image O(log R), where comparing every
// image with every ROM would cost the product.
//
// Matches are gathered image by image, that is in listing order, and then
// sorted stably by ROM, so each ROM's images stay in listing order.
#include "audit/matching.h"

#include <algorithm>
#include <cstring>

#include "audit/disk_matching.h"
#include "audit/in_place.h"

namespace {

enum class KeyKind : uint8_t { Crc, Sha1, Sha256, Md5 };

struct RomKey {
  uint64_t size;
  uint32_t key;
  KeyKind kind;
  uint32_t dat;
  uint32_t rom;
};

bool key_before(const RomKey& a, const RomKey& b) {
  if (a.key != b.key) return a.key < b.key;
  if (a.kind != b.kind) return a.kind < b.kind;
  return a.size < b.size;
}

uint32_t first_four(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

RomKey key_of(const DatRom& rom, uint32_t dat, uint32_t index) {
  RomKey key{rom.size, rom.crc, KeyKind::Crc, dat, index};
  if (rom.fields & dat_has_crc) return key;
  if (rom.fields & dat_has_sha1) return {rom.size, first_four(rom.sha1), KeyKind::Sha1, dat, index};
  if (rom.fields & dat_has_sha256) return {rom.size, first_four(rom.sha256), KeyKind::Sha256, dat, index};
  return {rom.size, first_four(rom.md5), KeyKind::Md5, dat, index};
}

bool build_index(const DatFile* dats, size_t dat_count, GrowArray<RomKey>& index) {
  for (size_t d = 0; d < dat_count; ++d) {
    for (size_t r = 0; r < dats[d].roms.count; ++r) {
      const DatRom& rom = dats[d].roms[r];
      if (!is_required_rom(rom)) continue;
      if (!push_back(index, key_of(rom, static_cast<uint32_t>(d), static_cast<uint32_t>(r)))) return false;
    }
  }
  std::sort(index.begin(), index.end(), key_before);
  return true;
}

bool same_digest(bool rom_has, const uint8_t* rom_digest, const uint8_t* form_digest, size_t size) {
  return !rom_has || form_digest == nullptr || std::memcmp(rom_digest, form_digest, size) == 0;
}

bool form_matches(const DatRom& rom, const AuditForm& form) {
  if (rom.size != form.size) return false;
  if ((rom.fields & dat_has_crc) && rom.crc != form.crc) return false;
  return same_digest(rom.fields & dat_has_sha1, rom.sha1, form.sha1, dat_sha1_size) &&
         same_digest(rom.fields & dat_has_sha256, rom.sha256, form.sha256, dat_sha256_size) &&
         same_digest(rom.fields & dat_has_md5, rom.md5, form.md5, dat_md5_size);
}

// The set, then the sets its cloneof and romof name, and theirs: a clone's
// ROM may sit in its parent's archive, a BIOS ROM in the BIOS's.
constexpr int max_related_sets = 8;

}  // namespace

bool is_in_place_as(const DatFile& dat, uint32_t set_index, const char* name, const char* merge,
                    const ImagePlace& place) {
  uint32_t related[max_related_sets] = {set_index};
  int count = 1;
  for (int k = 0; k < count; ++k) {
    const DatSet& set = dat.sets[related[k]];
    if (is_in_set(place, dat_text(dat, set.name), name)) return true;
    if (k != 0 && *merge != '\0' && is_in_set(place, dat_text(dat, set.name), merge)) return true;
    for (const DatText parent : {set.cloneof, set.romof}) {
      if (parent == 0 || count == max_related_sets) continue;
      const int64_t found = find_dat_set(dat, dat_text(dat, parent));
      if (found < 0 || std::find(related, related + count, static_cast<uint32_t>(found)) != related + count) continue;
      related[count++] = static_cast<uint32_t>(found);
    }
  }
  return false;
}

namespace {

bool is_in_place(const DatFile& dat, const DatRom& rom, const ImagePlace& place) {
  return is_in_place_as(dat, rom.set, dat_text(dat, rom.name), dat_text(dat, rom.merge), place);
}

struct FormKey {
  bool present;
  uint32_t key;
  KeyKind kind;
};

bool match_form(const DatFile* dats, const GrowArray<RomKey>& index, const AuditImage& image, const AuditForm& form,
                uint32_t image_index, AuditResult& result) {
  // Made once the image matches something: most never do.
  ImagePlace place;
  bool placed = false;
  const FormKey keys[] = {{true, form.crc, KeyKind::Crc},
                          {form.sha1 != nullptr, form.sha1 ? first_four(form.sha1) : 0, KeyKind::Sha1},
                          {form.sha256 != nullptr, form.sha256 ? first_four(form.sha256) : 0, KeyKind::Sha256},
                          {form.md5 != nullptr, form.md5 ? first_four(form.md5) : 0, KeyKind::Md5}};
  for (const FormKey& wanted : keys) {
    if (!wanted.present) continue;
    const RomKey probe{form.size, wanted.key, wanted.kind, 0, 0};
    const auto range = std::equal_range(index.begin(), index.end(), probe, key_before);
    for (const RomKey* key = range.first; key != range.second; ++key) {
      const DatFile& dat = dats[key->dat];
      const DatRom& rom = dat.roms[key->rom];
      if (!form_matches(rom, form)) continue;
      if (!placed) place = place_of(*image.origin);
      placed = true;
      const AuditMatch match{image_index, key->rom, key->dat, is_in_place(dat, rom, place)};
      if (!push_back(result.matches, match)) return false;
      result.image_known[image_index] = 1;
    }
  }
  return true;
}

bool match_before(const AuditMatch& a, const AuditMatch& b) {
  if (a.dat != b.dat) return a.dat < b.dat;
  return a.rom < b.rom;
}

bool index_matches(const DatFile* dats, size_t dat_count, AuditResult& result) {
  size_t slots = 0;
  for (size_t d = 0; d < dat_count; ++d) {
    if (!push_back(result.dat_rom_base, slots)) return false;
    slots += dats[d].roms.count;
  }
  if (!reserve_more(result.first_match, slots + 1)) return false;
  result.first_match.count = slots + 1;
  size_t next = 0;
  for (size_t d = 0; d < dat_count; ++d) {
    for (size_t r = 0; r < dats[d].roms.count; ++r) {
      result.first_match[result.dat_rom_base[d] + r] = static_cast<uint32_t>(next);
      while (next < result.matches.count && result.matches[next].dat == d && result.matches[next].rom == r) ++next;
    }
  }
  result.first_match[slots] = static_cast<uint32_t>(next);
  return true;
}

}  // namespace

bool audit_images(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                  AuditResult& result) {
  GrowArray<RomKey> index;
  if (!build_index(dats, dat_count, index)) return false;
  if (!reserve_more(result.image_known, image_count)) return false;
  std::memset(result.image_known.items, 0, image_count);
  result.image_known.count = image_count;
  for (size_t i = 0; i < image_count; ++i) {
    const auto image_index = static_cast<uint32_t>(i);
    if (!match_form(dats, index, images[i], images[i].whole, image_index, result)) return false;
    const HeaderlessSummary* headerless = images[i].headerless;
    if (headerless == nullptr) continue;
    const AuditForm form{headerless->size, headerless->crc, headerless->sha1, nullptr, nullptr};
    if (!match_form(dats, index, images[i], form, image_index, result)) return false;
  }
  std::stable_sort(result.matches.begin(), result.matches.end(), match_before);
  return index_matches(dats, dat_count, result) && match_disks(dats, dat_count, images, image_count, result);
}

RomMatches rom_matches(const AuditResult& result, uint32_t dat, uint32_t rom) {
  const size_t slot = result.dat_rom_base[dat] + rom;
  const uint32_t first = result.first_match[slot];
  RomMatches matches{result.matches.items + first, result.first_match[slot + 1] - first, false};
  for (uint32_t k = 0; k < matches.count; ++k) matches.in_place = matches.in_place || matches.first[k].in_place;
  return matches;
}

SetVerdict judge_set(const DatFile& dat, const AuditResult& result, uint32_t dat_index, uint32_t set_index) {
  const DatSet& set = dat.sets[set_index];
  SetVerdict verdict{0, 0, true, SetState::Complete};
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    const uint32_t rom = set.first_rom + k;
    if (!is_required_rom(dat.roms[rom])) continue;
    ++verdict.required;
    const RomMatches matches = rom_matches(result, dat_index, rom);
    if (matches.count == 0) continue;
    ++verdict.have;
    verdict.all_in_place = verdict.all_in_place && matches.in_place;
  }
  for (uint32_t k = 0; k < set.disk_count; ++k) {
    const uint32_t disk = set.first_disk + k;
    if (!is_required_disk(dat.disks[disk])) continue;
    ++verdict.required;
    const RomMatches matches = disk_matches_of(result, dat_index, disk);
    if (matches.count == 0) continue;
    ++verdict.have;
    verdict.all_in_place = verdict.all_in_place && matches.in_place;
  }
  if (verdict.have < verdict.required) verdict.state = verdict.have == 0 ? SetState::Missing : SetState::Partial;
  return verdict;
}

namespace {

// Higher is better: in place, then found, then the count found.
uint64_t rank_of(const SetVerdict& verdict) {
  const uint64_t state = verdict.state != SetState::Complete ? 0 : verdict.all_in_place ? 2 : 1;
  return state << 32 | verdict.have;
}

}  // namespace

bool judge_reported_set(const DatFile& dat, const AuditResult& result, uint32_t dat_index, uint32_t set_index,
                        ReportedSet& reported) {
  const DatSet& set = dat.sets[set_index];
  if (set.rom_count == 0 && set.disk_count == 0) return false;
  const DatSetRange alternatives = find_dat_sets_named(dat, dat_text(dat, set.name));
  // Set names are sorted stably: the first of a name is its earliest.
  if (alternatives.first != alternatives.last && *alternatives.first != set_index) return false;
  reported = {set_index, judge_set(dat, result, dat_index, set_index)};
  if (alternatives.first == alternatives.last) return true;
  for (const uint32_t* other = alternatives.first + 1; other != alternatives.last; ++other) {
    const SetVerdict verdict = judge_set(dat, result, dat_index, *other);
    if (rank_of(verdict) > rank_of(reported.verdict)) reported = {*other, verdict};
  }
  return true;
}

bool lacks_rom_in_place(const SetVerdict& verdict) {
  return verdict.state != SetState::Complete || !verdict.all_in_place;
}

bool any_rom_out_of_place(const DatFile* dats, size_t dat_count, const AuditResult& result) {
  for (size_t d = 0; d < dat_count; ++d) {
    for (uint32_t s = 0; s < dats[d].sets.count; ++s) {
      ReportedSet reported{};
      if (!judge_reported_set(dats[d], result, static_cast<uint32_t>(d), s, reported)) continue;
      if (lacks_rom_in_place(reported.verdict)) return true;
    }
  }
  return false;
}
