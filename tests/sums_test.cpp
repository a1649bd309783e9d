// The two 16-bit checksums and the -m1/-m2 columns, against known values.
#include "catalogue/sums.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "catalogue/summariser.h"
#include "report/listing.h"
#include "support/capture_stdout.h"

namespace {

std::vector<uint8_t> filled(size_t size, uint8_t value) {
  return std::vector<uint8_t>(size, value);
}

std::vector<uint8_t> counting_bytes(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<uint8_t>(k);
  return bytes;
}

// Every byte holds the number of its 2 KiB block.
std::vector<uint8_t> block_numbers(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<uint8_t>(k / 0x800);
  return bytes;
}

std::vector<uint8_t> text(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace

TEST(Checksums, KnownValues) {
  struct Case {
    const char* label;
    std::vector<uint8_t> bytes;
    uint16_t sum;
    uint16_t shift;
    uint32_t crc;
  };
  const Case cases[] = {
      {"no bytes", {}, 0x0000, 0x0000, 0x00000000},
      {"abc", text("abc"), 0x0126, 0x03B7, 0x352441C2},
      {"byte 01, bits enter low first", {0x01}, 0x0001, 0x0081, 0xA505DF1B},
      {"byte 80", {0x80}, 0x0080, 0x0001, 0x3FBA6CAD},
      {"digits 1 to 9", text("123456789"), 0x01DD, 0x946A, 0xCBF43926},
      {"2 KiB of 00", filled(2048, 0x00), 0x0000, 0x0000, 0xF1E8BA9E},
      {"2 KiB of FF", filled(2048, 0xFF), 0xF800, 0x1180, 0x3F55D17F},
      {"2 KiB counting", counting_bytes(2048), 0xFC00, 0xCE91, 0x9F5EDD58},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(sum16(c.bytes.size(), c.bytes.data()), c.sum);
    EXPECT_EQ(shift16(c.bytes.size(), c.bytes.data()), c.shift);
    Catalogue catalogue;
    add_rom(catalogue, SumPlan{}, "image", c.bytes.size(), c.bytes.data());
    EXPECT_EQ(catalogue.newest->summary.crc, c.crc);
  }
}

TEST(Sum16, WrapsWithoutCarry) {
  struct Case {
    size_t ff_bytes;
    uint16_t want;
  };
  const Case cases[] = {{257, 0xFFFF}, {258, 0x00FE}, {4096, 0xF000}, {16384, 0xC000}, {1 << 20, 0x0000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ff_bytes);
    const std::vector<uint8_t> bytes = filled(c.ff_bytes, 0xFF);
    EXPECT_EQ(sum16(bytes.size(), bytes.data()), c.want);
  }
}

// The sum runs over fixed blocks and then a tail; every split must add up.
TEST(Sum16, MatchesByteLoopAroundBlockEdgesAndUnalignedStarts) {
  std::vector<uint8_t> bytes(3 * 4096 + 64);
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<uint8_t>(k * 167 + (k >> 8) + 0x9D);
  for (const size_t start : {0, 1, 3, 7}) {
    for (const size_t size : {0, 1, 15, 4095, 4096, 4097, 8191, 8192, 12289}) {
      SCOPED_TRACE(testing::Message() << "start " << start << " size " << size);
      uint16_t want = 0;
      for (size_t k = 0; k < size; ++k) want = static_cast<uint16_t>(want + bytes[start + k]);
      EXPECT_EQ(sum16(size, bytes.data() + start), want);
    }
  }
}

TEST(ModeSums, WritesTheColumnsOfTheMode) {
  struct Case {
    const char* label;
    RunMode mode;
    std::vector<uint8_t> bytes;
    const char* want;
  };
  const Case cases[] = {
      {"M1 12 KiB of FF", RunMode::M1, filled(0x3000, 0xFF), "F000 F000 F000      "},
      {"M1 14 KiB of FF", RunMode::M1, filled(0x3800, 0xFF), "E000 F000 F800      "},
      {"M1 16 KiB of FF", RunMode::M1, filled(0x4000, 0xFF), "E000 F000 F800 F800 "},
      {"M1 12 KiB blocks", RunMode::M1, block_numbers(0x3000), "0800 2800 4800      "},
      {"M1 14 KiB blocks", RunMode::M1, block_numbers(0x3800), "3000 4800 3000      "},
      {"M1 16 KiB blocks", RunMode::M1, block_numbers(0x4000), "3000 4800 3000 3800 "},
      {"M1 size without layout", RunMode::M1, filled(0x2000, 0xFF), ""},
      {"M1 no bytes", RunMode::M1, {}, ""},
      {"M2 2 KiB of FF", RunMode::M2, filled(0x800, 0xFF), "1180 "},
      {"M2 2 KiB of 00", RunMode::M2, filled(0x800, 0x00), "0000 "},
      {"M2 any size", RunMode::M2, text("abc"), "03B7 "},
      {"All", RunMode::All, filled(0x4000, 0xFF), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SumPlan plan;
    plan.mode = c.mode;
    // Whole, and in pieces that cut across the segments, as an unpacker may
    // hand them over.
    const ImageSummary whole = summarise_bytes(plan, c.bytes.size(), c.bytes.data());
    SummariserHolder holder;
    begin_summary(holder.summariser, plan, c.bytes.size(), true, true);
    for (size_t done = 0; done < c.bytes.size(); done += 777) {
      feed_summary(holder.summariser, c.bytes.data() + done, std::min<size_t>(777, c.bytes.size() - done));
    }
    const ImageSummary pieces = finish_summary(holder.summariser);
    for (const ImageSummary* summary : {&whole, &pieces}) {
      EXPECT_EQ(capture_stdout([&] { print_mode_sums(c.mode, c.bytes.size(), summary->mode_sums); }), c.want);
      EXPECT_EQ(std::memcmp(summary, &whole, sizeof whole), 0);
    }
  }
}
