// Admission: the size filter of the run mode, then a record with the
// image's provenance and summary.
#include "catalogue/rom_entry.h"

#include <deque>
#include <memory>

#include "catalogue/summariser.h"
#include "catalogue/sums.h"

namespace {

// A deque: growing never moves a record, so the links stay good.
std::deque<RomEntry> g_records;

}  // namespace

RomEntry* g_rom_list = nullptr;
int32_t g_rom_count = 0;
int32_t g_skipped = 0;

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

void add_summarised_rom(const Provenance& origin, const ImageSummary& summary, bool admitted,
                        const AuditDigests* audit) {
  if (!admitted) {
    ++g_skipped;
    return;
  }
  RomEntry& entry = g_records.emplace_back();
  entry.origin = origin;
  if (audit != nullptr) entry.audit = std::make_unique<AuditDigests>(*audit);
  entry.summary = summary;
  entry.status = RomStatus::Unchecked;
  entry.order = g_rom_count;
  entry.next = g_rom_list;
  g_rom_list = &entry;
  ++g_rom_count;
}

void add_rom(const SumPlan& plan, const char* name, uint64_t size, const uint8_t* bytes) {
  if (plan.mode == RunMode::Pzc) return;
  ImageSummary summary{};
  summary.size = size;
  const bool admitted = is_admitted_size(plan.mode, size);
  if (admitted) summary = summarise_bytes(plan, size, bytes);
  add_summarised_rom(provenance_of_name(name), summary, admitted);
}

void clear_catalogue() {
  g_rom_list = nullptr;
  g_records.clear();
  g_rom_count = 0;
  g_skipped = 0;
}
