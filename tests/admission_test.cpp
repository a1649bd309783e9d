// Admission into the catalogue: the size filter per mode, owned copies, CRC.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"

namespace {

struct Admission : testing::Test {
  Catalogue catalogue;
};

void add_image_of_size(Catalogue& catalogue, RunMode mode, uint64_t size) {
  const std::vector<uint8_t> bytes(size, 0x5A);
  SumPlan plan;
  plan.mode = mode;
  add_rom(catalogue, plan, "image", size, bytes.data());
}

}  // namespace

TEST_F(Admission, FiltersBySizeAccordingToTheMode) {
  struct Case {
    RunMode mode;
    std::vector<uint64_t> sizes;
    int32_t admitted;
    int32_t skipped;
  };
  const Case cases[] = {
      {RunMode::All, {0, 1, 2048, 12288, 100000}, 5, 0},   {RunMode::M1, {12288, 14336, 16384}, 3, 0},
      {RunMode::M1, {12289, 16383, 2048, 0, 14335}, 0, 5}, {RunMode::M2, {2048}, 1, 0},
      {RunMode::M2, {2047, 2049, 4096, 0, 12288}, 0, 5},   {RunMode::Pzc, {0, 2048, 12288}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << static_cast<int>(c.mode) << ", " << c.sizes.size() << " sizes from "
                                    << c.sizes[0]);
    Catalogue filled;
    for (const uint64_t size : c.sizes) add_image_of_size(filled, c.mode, size);
    EXPECT_EQ(filled.count, c.admitted);
    EXPECT_EQ(filled.skipped, c.skipped);
    int32_t listed = 0;
    for (const RomEntry* entry = filled.newest; entry != nullptr; entry = entry->next) ++listed;
    EXPECT_EQ(listed, c.admitted);
  }
}

TEST_F(Admission, KeepsItsOwnCopiesNewestFirst) {
  std::string name = "first";
  std::string bytes = "123456789";
  add_rom(catalogue, SumPlan{}, name.c_str(), bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
  name = "caf\xE9-second";
  bytes = "abc";
  add_rom(catalogue, SumPlan{}, name.c_str(), bytes.size(), reinterpret_cast<const uint8_t*>(bytes.data()));
  add_rom(catalogue, SumPlan{}, "empty", 0, reinterpret_cast<const uint8_t*>(""));
  // The caller reuses its buffers at once.
  name.assign(name.size(), 'X');
  bytes.assign(bytes.size(), 'X');

  // The record keeps the bytes' sums and digest, never the bytes.
  struct Want {
    const char* name;
    uint64_t size;
    uint32_t crc;
    uint16_t sum;
    const char* sha256;
  };
  const Want want[] = {
      {"empty", 0, 0x00000000, 0x0000, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"caf\xE9-second", 3, 0x352441C2, 0x0126, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"first", 9, 0xCBF43926, 0x01DD, "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225"},
  };
  const RomEntry* entry = catalogue.newest;
  for (const Want& w : want) {
    SCOPED_TRACE(w.name);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(display_name(entry->origin), w.name);
    EXPECT_EQ(entry->summary.size, w.size);
    EXPECT_EQ(entry->summary.crc, w.crc);
    EXPECT_EQ(entry->summary.sum, w.sum);
    std::string digest;
    for (const uint8_t byte : entry->summary.sha256)
      digest += "0123456789abcdef"[byte >> 4], digest += "0123456789abcdef"[byte & 15];
    EXPECT_EQ(digest, w.sha256);
    EXPECT_EQ(entry->status, RomStatus::Unchecked);
    entry = entry->next;
  }
  EXPECT_EQ(entry, nullptr);
  EXPECT_EQ(catalogue.count, 3);
}
