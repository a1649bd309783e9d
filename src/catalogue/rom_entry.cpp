// Admission: the size filter of the run mode, then a record with an owned
// copy of the name and the image's summary.
#include "catalogue/rom_entry.h"

#include <cstring>
#include <memory>

#include "catalogue/run_mode.h"
#include "catalogue/summariser.h"

RomEntry* g_rom_list = nullptr;
int32_t g_rom_count = 0;
int32_t g_skipped = 0;

namespace {

constexpr uint64_t m1_sizes[] = {0x3000, 0x3800, 0x4000};
constexpr uint64_t m2_size = 0x800;

}  // namespace

bool is_admitted_size(uint64_t size) {
  switch (g_mode) {
    case RunMode::M1:
      for (const uint64_t admitted : m1_sizes) {
        if (size == admitted) return true;
      }
      return false;
    case RunMode::M2:
      return size == m2_size;
    case RunMode::All:
    case RunMode::Pzc:
      break;
  }
  return true;
}

void add_summarised_rom(const char* name, const ImageSummary& summary, const AuditDigests* audit) {
  if (g_mode == RunMode::Pzc) return;
  if (!is_admitted_size(summary.size)) {
    ++g_skipped;
    return;
  }
  // If an allocation throws, the unique_ptrs give back what was obtained
  // and the catalogue stays as it was.
  auto entry = std::make_unique<RomEntry>();
  const size_t name_size = std::strlen(name) + 1;
  std::unique_ptr<char[]> name_copy(new char[name_size]);
  std::memcpy(name_copy.get(), name, name_size);
  std::unique_ptr<AuditDigests> audit_copy;
  if (audit != nullptr) audit_copy = std::make_unique<AuditDigests>(*audit);

  entry->size = summary.size;
  entry->crc = summary.crc;
  entry->sum = summary.sum;
  std::memcpy(entry->mode_sums, summary.mode_sums, sizeof entry->mode_sums);
  std::memcpy(entry->sha256, summary.sha256, sizeof entry->sha256);
  entry->status = RomStatus::Unchecked;
  entry->order = g_rom_count;
  entry->audit = audit_copy.release();
  entry->name = name_copy.release();
  entry->next = g_rom_list;
  g_rom_list = entry.release();
  ++g_rom_count;
}

void add_rom(const char* name, uint64_t size, const uint8_t* bytes) {
  if (g_mode == RunMode::Pzc) return;
  ImageSummary summary{};
  summary.size = size;
  if (is_admitted_size(size)) summary = summarise_bytes(size, bytes);
  add_summarised_rom(name, summary);
}

void clear_catalogue() {
  while (g_rom_list != nullptr) {
    RomEntry* older = g_rom_list->next;
    delete[] g_rom_list->name;
    delete g_rom_list->audit;
    delete g_rom_list;
    g_rom_list = older;
  }
  g_rom_count = 0;
  g_skipped = 0;
}
