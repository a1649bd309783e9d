// Admission: the size filter of the run mode, then a record with owned
// copies of the name and the bytes and their CRC-32.
#include "catalogue/rom_entry.h"

#include <libdeflate.h>

#include <cstring>
#include <memory>

#include "catalogue/run_mode.h"

RomEntry* g_rom_list = nullptr;
int32_t g_rom_count = 0;
int32_t g_skipped = 0;

namespace {

constexpr uint64_t m1_sizes[] = {0x3000, 0x3800, 0x4000};
constexpr uint64_t m2_size = 0x800;

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

// Builds everything but `next`. If an allocation throws, the unique_ptrs
// give back what was obtained and the catalogue stays as it was.
RomEntry* make_rom_entry(const char* name, uint64_t size, const uint8_t* bytes) {
  auto entry = std::make_unique<RomEntry>();
  const size_t name_size = std::strlen(name) + 1;
  std::unique_ptr<char[]> name_copy(new char[name_size]);
  std::memcpy(name_copy.get(), name, name_size);
  std::unique_ptr<uint8_t[]> data_copy(new uint8_t[size]);
  if (size != 0) std::memcpy(data_copy.get(), bytes, size);

  entry->size = size;
  entry->crc = libdeflate_crc32(0, data_copy.get(), size);
  entry->status = RomStatus::Unchecked;
  entry->name = name_copy.release();
  entry->data = data_copy.release();
  return entry.release();
}

}  // namespace

void add_rom(const char* name, uint64_t size, const uint8_t* bytes) {
  if (g_mode == RunMode::Pzc) return;
  if (!is_admitted_size(size)) {
    ++g_skipped;
    return;
  }
  RomEntry* entry = make_rom_entry(name, size, bytes);
  entry->next = g_rom_list;
  g_rom_list = entry;
  ++g_rom_count;
}

void clear_catalogue() {
  while (g_rom_list != nullptr) {
    RomEntry* older = g_rom_list->next;
    delete[] g_rom_list->name;
    delete[] g_rom_list->data;
    delete g_rom_list;
    g_rom_list = older;
  }
  g_rom_count = 0;
  g_skipped = 0;
}
