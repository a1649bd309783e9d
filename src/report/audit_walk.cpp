// A set that is not reported on its own (a later alternative, a device)
// counts nowhere; a set's items are judged by place only when its printer
// takes them.
#include "report/audit_walk.h"

namespace {

void count_set(const SetVerdict& verdict, AuditCounts& counts) {
  ++counts.sets;
  counts.roms += verdict.required;
  counts.found += verdict.found;
  counts.in_place += verdict.have;
  counts.elsewhere += verdict.elsewhere;
  counts.complete += verdict.state == SetState::Complete;
  counts.partial += verdict.state == SetState::Partial;
  counts.missing += verdict.state == SetState::Missing;
}

void add_counts(AuditCounts& total, const AuditCounts& part) {
  total.sets += part.sets;
  total.complete += part.complete;
  total.partial += part.partial;
  total.missing += part.missing;
  total.roms += part.roms;
  total.found += part.found;
  total.in_place += part.in_place;
  total.elsewhere += part.elsewhere;
}

void walk_set(const AuditReport& report, const AuditPrinter& printer, uint32_t dat_index, uint32_t set_index,
              AuditCounts& counts) {
  const DatFile& dat = report.dats[dat_index];
  ReportedSet reported{};
  if (!judge_reported_set(dat, *report.result, dat_index, set_index, reported)) return;
  count_set(reported.verdict, counts);
  const DatSet& set = dat.sets[reported.set];
  const ReportedSetItem item{dat, dat_index, set, reported.verdict};
  if (printer.set_start(report, item)) {
    SetJudgement judged;
    judge_set_by_place(dat, *report.result, dat_index, reported.set, judged);
    for (uint32_t k = 0; k < set.rom_count; ++k) printer.rom(report, item, set.first_rom + k, judged.roms[k]);
    for (uint32_t k = 0; k < set.disk_count; ++k) printer.disk(report, item, set.first_disk + k, judged.disks[k]);
    for (const uint32_t place : judged.unneeded) printer.unneeded(report, item, place);
  }
  if (printer.set_end != nullptr) printer.set_end(report, item);
}

}  // namespace

void walk_audit_report(const AuditReport& report, const AuditPrinter& printer) {
  const bool several = report.dat_count > 1;
  AuditCounts counts;
  for (uint32_t d = 0; d < report.dat_count; ++d) {
    if (several && printer.dat_start != nullptr) printer.dat_start(report, d);
    AuditCounts dat_counts;
    for (uint32_t s = 0; s < report.dats[d].sets.count; ++s) walk_set(report, printer, d, s, dat_counts);
    if (several && printer.dat_end != nullptr) printer.dat_end(report, d, dat_counts);
    add_counts(counts, dat_counts);
  }
  for (size_t i = 0; i < report.image_count; ++i) {
    if (report.result->image_known[i]) continue;
    ++counts.unknown;
    printer.unknown(report, i);
  }
  const AuditResult& result = *report.result;
  printer.summary(report, counts, result.places.places.size() - result.places.image_count);
}
