// The one walk over an audit's report that the text and the JSON printers
// share: sets in the order of the DATs and of each DAT, each set's ROMs,
// disks and unneeded images, each DAT's counts when there are several, the
// images no DAT knows in listing order, then the run's counts. A printer
// gives the functions that write its form of each item.
#pragma once

#include <cstddef>
#include <cstdint>

#include "audit/audit_image.h"
#include "audit/matching.h"
#include "audit/rom_verdicts.h"
#include "dat/dat_file.h"

struct AuditReport {
  const DatFile* dats;
  size_t dat_count;
  const AuditImage* images;
  size_t image_count;
  const AuditResult* result;
};

struct AuditCounts {
  uint64_t sets = 0;
  uint64_t complete = 0;
  uint64_t partial = 0;
  uint64_t missing = 0;
  uint64_t roms = 0;  // required ROMs and disks
  uint64_t found = 0;
  uint64_t in_place = 0;
  uint64_t elsewhere = 0;
  uint64_t unknown = 0;  // images no DAT knows: in the run's counts only
};

// A set the report gives, in the DAT it comes from.
struct ReportedSetItem {
  const DatFile& dat;
  uint32_t dat_index;
  const DatSet& set;
  const SetVerdict& verdict;
};

// Every function but those said to be optional is called.
struct AuditPrinter {
  // With several DATs, before and after each one's sets; optional.
  void (*dat_start)(const AuditReport& report, uint32_t dat);
  void (*dat_end)(const AuditReport& report, uint32_t dat, const AuditCounts& counts);
  // Whether the set's ROMs, disks and unneeded images follow.
  bool (*set_start)(const AuditReport& report, const ReportedSetItem& item);
  void (*rom)(const AuditReport& report, const ReportedSetItem& item, uint32_t rom, const RomJudgement& judged);
  void (*disk)(const AuditReport& report, const ReportedSetItem& item, uint32_t disk, const RomJudgement& judged);
  void (*unneeded)(const AuditReport& report, const ReportedSetItem& item, uint32_t image);
  // After the set and anything of it that followed; optional.
  void (*set_end)(const AuditReport& report, const ReportedSetItem& item);
  void (*unknown)(const AuditReport& report, size_t image);
  // The run's counts; `unreadable` counts the walk's failures.
  void (*summary)(const AuditReport& report, const AuditCounts& counts, size_t unreadable);
};

void walk_audit_report(const AuditReport& report, const AuditPrinter& printer);
