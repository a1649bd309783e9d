// Admission: the size filter of the run mode, then a record with the
// image's provenance and summary.
#include "catalogue/rom_entry.h"

#include <memory>

#include "catalogue/summariser.h"
#include "catalogue/sums.h"

bool is_admitted_size(RunMode mode, uint64_t size) {
  switch (mode) {
    case RunMode::M1:
      return m1_layout_of(size) != nullptr;
    case RunMode::M2:
      return size == m2_image_size;
    case RunMode::All:
    case RunMode::Pzc:
      break;
  }
  return true;
}

void add_summarised_rom(Catalogue& catalogue, const Provenance& origin, const ImageSummary& summary, bool admitted,
                        const AuditDigests* audit) {
  if (!admitted) {
    ++catalogue.skipped;
    return;
  }
  RomEntry& entry = catalogue.records.emplace_back();
  entry.origin = origin;
  if (audit != nullptr) entry.audit = std::make_unique<AuditDigests>(*audit);
  entry.summary = summary;
  entry.status = RomStatus::Unchecked;
  entry.order = catalogue.count;
  entry.next = catalogue.newest;
  catalogue.newest = &entry;
  ++catalogue.count;
}

void add_rom(Catalogue& catalogue, const SumPlan& plan, const char* name, uint64_t size, const uint8_t* bytes) {
  if (plan.mode == RunMode::Pzc) return;
  ImageSummary summary{};
  summary.size = size;
  const bool admitted = is_admitted_size(plan.mode, size);
  if (admitted) summary = summarise_bytes(plan, size, bytes);
  add_summarised_rom(catalogue, provenance_of_name(name), summary, admitted);
}
