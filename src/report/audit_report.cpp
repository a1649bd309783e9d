// Sets in the order of the DATs and of each DAT, ROMs in DAT order; a
// complete set with every ROM in place says nothing. Unknown images follow
// in listing order, then one line of counts with its words always plural,
// as the listing's summary.
#include "report/audit_report.h"

#include <cinttypes>
#include <cstdio>

#include "audit/disk_matching.h"
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
  print_escaped_name(name, EscapedBytes::ControlsAndInvalidUtf8);
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

void print_disk_lines(const DatFile& dat, const DatSet& set, const AuditImage* images, const AuditResult& result,
                      uint32_t dat_index) {
  for (uint32_t k = 0; k < set.disk_count; ++k) {
    const uint32_t index = set.first_disk + k;
    const DatDisk& disk = dat.disks[index];
    if (!is_required_disk(disk)) continue;
    const RomMatches matches = disk_matches_of(result, dat_index, index);
    if (matches.count == 0) {
      std::fputs("  missing disk ", stdout);
      print_name(dat_text(dat, disk.name));
      std::fputs(" sha1 ", stdout);
      for (const uint8_t byte : disk.sha1) std::printf("%02x", byte);
      std::putchar('\n');
    } else if (!matches.in_place) {
      std::fputs("  elsewhere disk ", stdout);
      print_name(dat_text(dat, disk.name));
      std::fputs(": ", stdout);
      print_name(display_name(*images[matches.first[0].image].origin).c_str());
      std::putchar('\n');
    }
  }
}

void print_set(const DatFile& dat, uint32_t set_index, const AuditImage* images, const AuditResult& result,
               uint32_t dat_index, AuditCounts& counts) {
  ReportedSet reported{};
  if (!judge_reported_set(dat, result, dat_index, set_index, reported)) return;
  const SetVerdict& verdict = reported.verdict;
  ++counts.sets;
  counts.roms += verdict.required;
  counts.have += verdict.have;
  const DatSet& set = dat.sets[reported.set];
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
  print_disk_lines(dat, set, images, result, dat_index);
}

void print_counts(const AuditCounts& counts) {
  std::printf("%" PRIu64 " sets: %" PRIu64 " complete, %" PRIu64 " partial, %" PRIu64 " missing; %" PRIu64
              " of %" PRIu64 " ROMs",
              counts.sets, counts.complete, counts.partial, counts.missing, counts.have, counts.roms);
}

void add_counts(AuditCounts& total, const AuditCounts& part) {
  total.sets += part.sets;
  total.complete += part.complete;
  total.partial += part.partial;
  total.missing += part.missing;
  total.roms += part.roms;
  total.have += part.have;
}

}  // namespace

// With several DATs, each one's sets come under `dat NAME` and end with its
// own counts; unknown images belong to none, and only the total counts them.
void print_audit(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                 const AuditResult& result) {
  AuditCounts counts;
  for (size_t d = 0; d < dat_count; ++d) {
    AuditCounts dat_counts;
    if (dat_count > 1) {
      std::fputs("dat ", stdout);
      print_name(dat_text(dats[d], dats[d].name));
      std::putchar('\n');
    }
    for (uint32_t s = 0; s < dats[d].sets.count; ++s) {
      print_set(dats[d], s, images, result, static_cast<uint32_t>(d), dat_counts);
    }
    if (dat_count > 1) {
      print_counts(dat_counts);
      std::putchar('\n');
    }
    add_counts(counts, dat_counts);
  }
  for (size_t i = 0; i < image_count; ++i) {
    if (result.image_known[i]) continue;
    ++counts.unknown;
    std::fputs("unknown ", stdout);
    print_name(display_name(*images[i].origin).c_str());
    std::putchar('\n');
  }
  print_counts(counts);
  std::printf("; %" PRIu64 " unknown images\n", counts.unknown);
}
