// Copying missing ROMs, and their sets, into a DAT of their own.
#include "audit/fixdat.h"

namespace {

bool copy_text(const DatFile& from, DatText text, DatFile& to, DatText& out) {
  return add_dat_text(to, dat_text(from, text), out);
}

bool copy_set(const DatFile& dat, const DatSet& set, DatFile& fixdat) {
  DatSet copy{};
  return copy_text(dat, set.name, fixdat, copy.name) && copy_text(dat, set.description, fixdat, copy.description) &&
         copy_text(dat, set.cloneof, fixdat, copy.cloneof) && copy_text(dat, set.romof, fixdat, copy.romof) &&
         add_dat_set(fixdat, copy);
}

bool copy_missing_roms(const DatFile& dat, uint32_t dat_index, const DatSet& set, const AuditResult& result,
                       DatFile& fixdat) {
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    const uint32_t index = set.first_rom + k;
    const DatRom& rom = dat.roms[index];
    if (!is_required_rom(rom) || rom_matches(result, dat_index, index).count != 0) continue;
    DatRom copy = rom;
    if (!copy_text(dat, rom.name, fixdat, copy.name) || !copy_text(dat, rom.merge, fixdat, copy.merge) ||
        !add_dat_rom(fixdat, copy)) {
      return false;
    }
  }
  return true;
}

bool lacks_any_rom(const DatFile& dat, uint32_t dat_index, const DatSet& set, const AuditResult& result) {
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    const uint32_t index = set.first_rom + k;
    if (is_required_rom(dat.roms[index]) && rom_matches(result, dat_index, index).count == 0) return true;
  }
  return false;
}

}  // namespace

bool build_fixdat(const DatFile* dats, size_t dat_count, const AuditResult& result, DatFile& fixdat) {
  if (!begin_dat(fixdat)) return false;
  for (size_t d = 0; d < dat_count; ++d) {
    const auto dat_index = static_cast<uint32_t>(d);
    for (uint32_t s = 0; s < dats[d].sets.count; ++s) {
      ReportedSet reported{};
      if (!judge_reported_set(dats[d], result, dat_index, s, reported)) continue;
      const DatSet& set = dats[d].sets[reported.set];
      // A set that lacks only disks has no ROM to write.
      if (!lacks_any_rom(dats[d], dat_index, set, result)) continue;
      if (!copy_set(dats[d], set, fixdat) || !copy_missing_roms(dats[d], dat_index, set, result, fixdat)) {
        return false;
      }
    }
  }
  return finish_dat(fixdat);
}
