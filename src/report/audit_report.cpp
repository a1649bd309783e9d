// Sets in the order of the DATs and of each DAT, ROMs in DAT order; a
// complete set with every ROM in place says nothing. Unknown images follow
// in listing order, then one line of counts with its words always plural,
// as the listing's summary.
#include "report/audit_report.h"

#include <cinttypes>
#include <cstdio>

#include "audit/disk_matching.h"
#include "audit/rom_verdicts.h"
#include "report/name_escaping.h"

namespace {

struct AuditCounts {
  uint64_t sets = 0;
  uint64_t complete = 0;
  uint64_t partial = 0;
  uint64_t missing = 0;
  uint64_t roms = 0;
  uint64_t have = 0;
  uint64_t elsewhere = 0;
  uint64_t unknown = 0;
};

void print_name(const char* name) {
  print_escaped_name(name, EscapedBytes::ControlsAndInvalidUtf8);
}

// The name of an image, or of a failure past the images.
void print_place(const AuditImage* images, const AuditResult& result, uint32_t place) {
  if (place < result.places.image_count) {
    print_name(display_name(*images[place].origin).c_str());
  } else {
    print_name(result.places.places[place].name.c_str());
  }
}

void print_rom_line(const char* name, const RomJudgement& judged, const AuditImage* images, const AuditResult& result) {
  std::printf("  %s ", rom_verdict_word(judged.verdict));
  print_name(name);
  std::fputs(": ", stdout);
  print_place(images, result, judged.place);
}

void print_rom_lines(const DatFile& dat, const DatSet& set, const SetJudgement& judged, const AuditImage* images,
                     const AuditResult& result, bool only_elsewhere) {
  for (uint32_t k = 0; k < set.rom_count; ++k) {
    const DatRom& rom = dat.roms[set.first_rom + k];
    const RomJudgement& verdict = judged.roms[k];
    const bool elsewhere = verdict.verdict == RomVerdict::Elsewhere;
    if (verdict.verdict == RomVerdict::InPlace || verdict.verdict == RomVerdict::Nodump) continue;
    if (only_elsewhere && !elsewhere) continue;
    if (verdict.verdict == RomVerdict::Missing) {
      std::fputs("  missing ", stdout);
      print_name(dat_text(dat, rom.name));
      std::printf(" size %" PRIu64, rom.size);
      if (rom.fields & dat_has_crc) {
        std::printf(" crc %08" PRIx32 "\n", rom.crc);
      } else {
        std::fputs(" crc -\n", stdout);
      }
      continue;
    }
    print_rom_line(dat_text(dat, rom.name), verdict, images, result);
    if (verdict.verdict == RomVerdict::Wrong) std::printf(" crc %08" PRIx32, images[verdict.place].whole.crc);
    std::putchar('\n');
  }
}

void print_disk_lines(const DatFile& dat, const DatSet& set, const SetJudgement& judged, const AuditImage* images,
                      const AuditResult& result, bool only_elsewhere) {
  for (uint32_t k = 0; k < set.disk_count; ++k) {
    const DatDisk& disk = dat.disks[set.first_disk + k];
    const RomJudgement& verdict = judged.disks[k];
    if (verdict.verdict == RomVerdict::Missing && !only_elsewhere) {
      std::fputs("  missing disk ", stdout);
      print_name(dat_text(dat, disk.name));
      std::fputs(" sha1 ", stdout);
      for (const uint8_t byte : disk.sha1) std::printf("%02x", byte);
      std::putchar('\n');
    } else if (verdict.verdict == RomVerdict::Elsewhere) {
      std::fputs("  elsewhere disk ", stdout);
      print_name(dat_text(dat, disk.name));
      std::fputs(": ", stdout);
      print_place(images, result, verdict.place);
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
  counts.elsewhere += verdict.elsewhere;
  const DatSet& set = dat.sets[reported.set];
  switch (verdict.state) {
    case SetState::Missing:
      ++counts.missing;
      std::fputs("missing ", stdout);
      print_name(dat_text(dat, set.name));
      std::putchar('\n');
      break;
    case SetState::Partial:
      ++counts.partial;
      std::fputs("partial ", stdout);
      print_name(dat_text(dat, set.name));
      std::printf(" (%" PRIu32 " of %" PRIu32 " in place)\n", verdict.have, verdict.required);
      break;
    case SetState::Complete:
      ++counts.complete;
      return;
  }
  SetJudgement judged;
  judge_set_by_place(dat, result, dat_index, reported.set, judged);
  const bool only_elsewhere = verdict.state == SetState::Missing;
  print_rom_lines(dat, set, judged, images, result, only_elsewhere);
  print_disk_lines(dat, set, judged, images, result, only_elsewhere);
  for (const uint32_t place : judged.unneeded) {
    std::fputs("  unneeded ", stdout);
    print_place(images, result, place);
    std::putchar('\n');
  }
}

void print_counts(const AuditCounts& counts) {
  std::printf("%" PRIu64 " sets: %" PRIu64 " complete, %" PRIu64 " partial, %" PRIu64 " missing; %" PRIu64
              " of %" PRIu64 " ROMs in place, %" PRIu64 " elsewhere",
              counts.sets, counts.complete, counts.partial, counts.missing, counts.have, counts.roms, counts.elsewhere);
}

void add_counts(AuditCounts& total, const AuditCounts& part) {
  total.sets += part.sets;
  total.complete += part.complete;
  total.partial += part.partial;
  total.missing += part.missing;
  total.roms += part.roms;
  total.have += part.have;
  total.elsewhere += part.elsewhere;
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
  std::printf("; %" PRIu64 " unknown images; %zu unreadable\n", counts.unknown,
              result.places.places.size() - result.places.image_count);
}
