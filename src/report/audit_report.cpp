// Sets in the order of the DATs and of each DAT, ROMs in DAT order; a
// complete set with every ROM in place says nothing. Unknown images follow
// in listing order, then one line of counts with its words always plural,
// as the listing's summary.
#include "report/audit_report.h"

#include <cinttypes>
#include <cstdio>

#include "report/audit_walk.h"
#include "report/name_escaping.h"

namespace {

void print_name(const char* name) {
  print_escaped_name(name, EscapedBytes::ControlsAndInvalidUtf8);
}

// The name of an image, or of a failure past the images.
void print_place(const AuditReport& report, uint32_t place) {
  const AuditResult& result = *report.result;
  if (place < result.places.image_count) {
    print_name(display_name(*report.images[place].origin).c_str());
  } else {
    print_name(result.places.places[place].name.c_str());
  }
}

// With several DATs, each one's sets come under `dat NAME` and end with its
// own counts; unknown images belong to none, and only the total counts them.
void print_dat_start(const AuditReport& report, uint32_t dat) {
  std::fputs("dat ", stdout);
  print_name(dat_text(report.dats[dat], report.dats[dat].name));
  std::putchar('\n');
}

void print_counts(const AuditCounts& counts) {
  std::printf("%" PRIu64 " sets: %" PRIu64 " complete, %" PRIu64 " partial, %" PRIu64 " missing; %" PRIu64
              " of %" PRIu64 " ROMs in place, %" PRIu64 " elsewhere",
              counts.sets, counts.complete, counts.partial, counts.missing, counts.in_place, counts.roms,
              counts.elsewhere);
}

void print_dat_end(const AuditReport&, uint32_t, const AuditCounts& counts) {
  print_counts(counts);
  std::putchar('\n');
}

bool print_set_start(const AuditReport&, const ReportedSetItem& item) {
  const SetVerdict& verdict = item.verdict;
  switch (verdict.state) {
    case SetState::Missing:
      std::fputs("missing ", stdout);
      print_name(dat_text(item.dat, item.set.name));
      std::putchar('\n');
      return true;
    case SetState::Partial:
      std::fputs("partial ", stdout);
      print_name(dat_text(item.dat, item.set.name));
      std::printf(" (%" PRIu32 " of %" PRIu32 " in place)\n", verdict.have, verdict.required);
      return true;
    case SetState::Complete:
      break;
  }
  return false;
}

// Of a missing set only what was found elsewhere is said.
void print_rom(const AuditReport& report, const ReportedSetItem& item, uint32_t rom_index, const RomJudgement& judged) {
  const DatRom& rom = item.dat.roms[rom_index];
  if (judged.verdict == RomVerdict::InPlace || judged.verdict == RomVerdict::Nodump) return;
  if (item.verdict.state == SetState::Missing && judged.verdict != RomVerdict::Elsewhere) return;
  if (judged.verdict == RomVerdict::Missing) {
    std::fputs("  missing ", stdout);
    print_name(dat_text(item.dat, rom.name));
    std::printf(" size %" PRIu64, rom.size);
    if (rom.fields & dat_has_crc) {
      std::printf(" crc %08" PRIx32 "\n", rom.crc);
    } else {
      std::fputs(" crc -\n", stdout);
    }
    return;
  }
  std::printf("  %s ", rom_verdict_word(judged.verdict));
  print_name(dat_text(item.dat, rom.name));
  std::fputs(": ", stdout);
  print_place(report, judged.place);
  if (judged.verdict == RomVerdict::Wrong) std::printf(" crc %08" PRIx32, report.images[judged.place].whole.crc);
  std::putchar('\n');
}

void print_disk(const AuditReport& report, const ReportedSetItem& item, uint32_t disk_index,
                const RomJudgement& judged) {
  const DatDisk& disk = item.dat.disks[disk_index];
  if (judged.verdict == RomVerdict::Missing && item.verdict.state != SetState::Missing) {
    std::fputs("  missing disk ", stdout);
    print_name(dat_text(item.dat, disk.name));
    std::fputs(" sha1 ", stdout);
    for (const uint8_t byte : disk.sha1) std::printf("%02x", byte);
    std::putchar('\n');
  } else if (judged.verdict == RomVerdict::Elsewhere) {
    std::fputs("  elsewhere disk ", stdout);
    print_name(dat_text(item.dat, disk.name));
    std::fputs(": ", stdout);
    print_place(report, judged.place);
    std::putchar('\n');
  }
}

void print_unneeded(const AuditReport& report, const ReportedSetItem&, uint32_t image) {
  std::fputs("  unneeded ", stdout);
  print_place(report, image);
  std::putchar('\n');
}

void print_unknown(const AuditReport& report, size_t image) {
  std::fputs("unknown ", stdout);
  print_name(display_name(*report.images[image].origin).c_str());
  std::putchar('\n');
}

void print_summary(const AuditReport&, const AuditCounts& counts, size_t unreadable) {
  print_counts(counts);
  std::printf("; %" PRIu64 " unknown images; %zu unreadable\n", counts.unknown, unreadable);
}

constexpr AuditPrinter text_printer{print_dat_start, print_dat_end, print_set_start, print_rom,    print_disk,
                                    print_unneeded,  nullptr,       print_unknown,   print_summary};

}  // namespace

void print_audit(const DatFile* dats, size_t dat_count, const AuditImage* images, size_t image_count,
                 const AuditResult& result) {
  walk_audit_report({dats, dat_count, images, image_count, &result}, text_printer);
}
