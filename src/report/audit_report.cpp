// Sets in the order of the DATs and of each DAT, ROMs in DAT order; a
// complete set with every ROM in place says nothing. Unknown images follow
// in listing order, then one line of counts with its words always plural,
// as the listing's summary.
#include "report/audit_report.h"

#include <cinttypes>
#include <cstdio>

#include "report/name_escaping.h"

namespace {

struct AuditCounts {
  uint64_t sets = 0;
  uint64_t complete = 0;
  uint64_t partial = 0;
  uint64_t missing = 0;
  uint64_t roms = 0;
  uint64_t have = 0;
  uint64_t unknown = 0;
};

void print_name(const char* name) {
  print_escaped_name(name, EscapedBytes::ControlsAndHigh);
}

void print_rom_lines(const DatFile& dat, const DatSet& set, const AuditImage* images, const AuditResult& result,
                     uint32_t dat_index) {
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    const uint32_t index = set.first_rom + k;
    const DatRom& rom = dat.roms[index];
    if (!is_required_rom(rom)) continue;
    const RomMatches matches = rom_matches(result, dat_index, index);
    if (matches.count == 0) {
      std::fputs("  missing ", stdout);
      print_name(dat_text(dat, rom.name));
      std::printf(" size %" PRIu64, rom.size);
      if (rom.fields & dat_has_crc) {
        std::printf(" crc %08" PRIx32 "\n", rom.crc);
      } else {
        std::fputs(" crc -\n", stdout);
      }
    } else if (!matches.in_place) {
      std::fputs("  elsewhere ", stdout);
      print_name(dat_text(dat, rom.name));
      std::fputs(": ", stdout);
      print_name(display_name(*images[matches.first[0].image].origin).c_str());
      std::putchar('\n');
    }
  }
}

void print_set(const DatFile& dat, uint32_t set_index, const AuditImage* images, const AuditResult& result,
               uint32_t dat_index, AuditCounts& counts) {
  const SetVerdict verdict = judge_set(dat, result, dat_index, set_index);
  ++counts.sets;
  counts.roms += verdict.required;
  counts.have += verdict.have;
  const DatSet& set = dat.sets[set_index];
  switch (verdict.state) {
    case SetState::Missing:
      ++counts.missing;
      std::fputs("missing ", stdout);
      print_name(dat_text(dat, set.name));
      std::putchar('\n');
      return;
    case SetState::Partial:
      ++counts.partial;
      std::fputs("partial ", stdout);
      break;
    case SetState::Complete:
      ++counts.complete;
      if (verdict.all_in_place) return;
      std::fputs("complete ", stdout);
      break;
  }
  print_name(dat_text(dat, set.name));
  std::printf(" (%" PRIu32 " of %" PRIu32 ")\n", verdict.have, verdict.required);
  print_rom_lines(dat, set, images, result, dat_index);
}

}  // namespace

void print_audit(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                 const AuditResult& result) {
  AuditCounts counts;
  for (size_t d = 0; d < dat_count; ++d) {
    for (uint32_t s = 0; s < dats[d].sets.count; ++s) {
      print_set(dats[d], s, images, result, static_cast<uint32_t>(d), counts);
    }
  }
  for (size_t i = 0; i < image_count; ++i) {
    if (result.image_known[i]) continue;
    ++counts.unknown;
    std::fputs("unknown ", stdout);
    print_name(display_name(*images[i].origin).c_str());
    std::putchar('\n');
  }
  std::printf("%" PRIu64 " sets: %" PRIu64 " complete, %" PRIu64 " partial, %" PRIu64 " missing; %" PRIu64
              " of %" PRIu64 " ROMs; %" PRIu64 " unknown images\n",
              counts.sets, counts.complete, counts.partial, counts.missing, counts.have, counts.roms, counts.unknown);
}
