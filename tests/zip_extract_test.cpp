// Extraction by index: what comes out, and what is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "support/opened_zip.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"
#include "zip/zip_extract.h"

namespace {}  // namespace

TEST(ZipExtract, GivesEachEntryItsBytes) {
  std::vector<ZipEntryPlan> entries = {
      stored_entry("empty stored", ""),
      deflated_entry("empty deflated", ""),
      stored_entry("text stored", text_bytes(1000)),
      deflated_entry("text deflated", text_bytes(70000)),
      deflated_entry("random deflated", random_bytes(100000, 1)),
      // About 989:1, close to what deflate can do; must not trip the size check.
      deflated_entry("zeros deflated", std::string(4 << 20, '\0')),
      deflated_entry("data descriptor", text_bytes(5000)),
      stored_entry("zip64 stored", text_bytes(300)),
      deflated_entry("zip64 with descriptor", text_bytes(3000)),
      deflated_entry("local header differs", text_bytes(400)),
      stored_entry(std::string(600, 'n'), "a 600-byte name"),
  };
  entries[6].data_descriptor = true;
  entries[7].zip64 = true;
  entries[8].zip64 = true;
  entries[8].data_descriptor = true;
  entries[9].local_name = "another, longer name in the local header";
  entries[9].local_extra = std::string("UT\x05\x00\x01\x02\x03\x04\x05", 9);
  // Deflate data for an empty entry that carries no bytes at all.
  entries.push_back(deflated_entry("deflate, no data", ""));
  entries.back().data = "";

  const ZipPlan plan = zip_of(entries);
  OpenedZip zip(build_zip(plan));
  ASSERT_TRUE(zip.is_open);
  ASSERT_EQ(zip_entry_count(zip.archive.reader), entries.size());
  for (uint32_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].name.substr(0, 40));
    // An empty entry comes back as a real, empty block.
    EXPECT_EQ(extract_entry(zip.archive, i), entries[i].content);
  }
}

TEST(ZipExtract, EntriesWithEqualNamesEachGiveTheirOwnBytes) {
  const ZipPlan plan =
      zip_of({stored_entry("x.bin", "first"), stored_entry("X.BIN", "second"), deflated_entry("x.bin", "third"),
              stored_entry("ROM.BIN", "fourth"), stored_entry("rom.bin", "fifth")});
  OpenedZip zip(build_zip(plan));
  ASSERT_TRUE(zip.is_open);
  for (uint32_t i = 0; i < plan.entries.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(extract_entry(zip.archive, i), plan.entries[i].content);
  }
}

TEST(ZipStat, GivesTheCentralRecordsFields) {
  const std::string long_name = std::string(599, 'n') + "/";
  ZipPlan plan =
      zip_of({stored_entry("a.bin", "alpha"), deflated_entry("b\0c", text_bytes(2000)), stored_entry(long_name, "")});
  plan.entries[1].name = std::string("b\0c", 3);
  plan.entries[1].flags = 0x0800;
  plan.entries[1].external_attributes = 0x81A40000;
  const ZipLayout layout = build_zip_layout(plan);
  OpenedZip zip(layout.bytes);
  ASSERT_TRUE(zip.is_open);

  ZipEntryPlan& deflated = plan.entries[1];
  ZipEntryStat stat{};
  ASSERT_TRUE(zip_stat_entry(zip.archive.reader, 1, stat));
  EXPECT_EQ(stat.name_size, 3u);
  EXPECT_EQ(std::string(stat.name, 4), std::string("b\0c\0", 4));
  EXPECT_EQ(stat.compressed_size, deflate_bytes(deflated.content).size());
  EXPECT_EQ(stat.uncompressed_size, 2000u);
  EXPECT_EQ(stat.local_header_offset, layout.local_header_offsets[1]);
  EXPECT_EQ(stat.crc32, crc32_of(deflated.content));
  EXPECT_EQ(stat.external_attributes, 0x81A40000u);
  EXPECT_EQ(stat.method, 8);
  EXPECT_EQ(stat.flags, 0x0800);

  // The whole name, however long, NUL-terminated.
  ASSERT_TRUE(zip_stat_entry(zip.archive.reader, 2, stat));
  EXPECT_EQ(stat.name_size, 600u);
  EXPECT_EQ(std::string(stat.name), long_name);

  EXPECT_FALSE(zip_stat_entry(zip.archive.reader, 3, stat));
  EXPECT_FALSE(zip_stat_entry(zip.archive.reader, UINT32_MAX, stat));
  uint64_t size = 1;
  EXPECT_EQ(zip_extract_entry(zip.archive.reader, 3, size), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST(ZipStat, TakesZip64FieldsOnlyForFieldsThatAreAllOnes) {
  struct Case {
    const char* name;
    std::optional<uint16_t> zip64_extra_size;  // cut the block's 24 bytes to this
    bool states;
  };
  const Case cases[] = {
      {"whole block", std::nullopt, true},
      {"24 bytes", 24, true},
      {"23 bytes", 23, false},
      {"16 bytes", 16, false},
      {"8 bytes", 8, false},
      {"empty block", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipPlan plan = zip_of({deflated_entry("a", text_bytes(500))});
    plan.entries[0].zip64 = true;
    plan.entries[0].zip64_extra_size = c.zip64_extra_size;
    OpenedZip zip(build_zip(plan));
    ASSERT_TRUE(zip.is_open);
    ZipEntryStat stat{};
    ASSERT_EQ(zip_stat_entry(zip.archive.reader, 0, stat), c.states);
    EXPECT_EQ(extract_entry(zip.archive, 0), c.states ? std::optional(text_bytes(500)) : std::nullopt);
  }

  // Only the compressed size is all ones: the block holds that one field,
  // after a block of another kind.
  ZipPlan plan = zip_of({stored_entry("a", "forty bytes of stored data, give or take"), stored_entry("b", "")});
  std::string zip64_block("\x01\x00\x08\x00", 4);
  zip64_block += std::string("\x28\0\0\0\0\0\0\0", 8);
  plan.entries[0].compressed_size = 0xFFFFFFFF;
  plan.entries[0].central_extra = std::string("UT\x01\x00\x07", 5) + zip64_block;
  // All ones and no zip64 block at all.
  plan.entries[1].uncompressed_size = 0xFFFFFFFF;
  OpenedZip zip(build_zip(plan));
  ASSERT_TRUE(zip.is_open);
  ZipEntryStat stat{};
  ASSERT_TRUE(zip_stat_entry(zip.archive.reader, 0, stat));
  EXPECT_EQ(stat.compressed_size, 40u);
  EXPECT_EQ(extract_entry(zip.archive, 0), plan.entries[0].content);
  EXPECT_FALSE(zip_stat_entry(zip.archive.reader, 1, stat));
}

TEST(ZipEntry, IsADirectoryByNameOrByDosAttribute) {
  struct Case {
    const char* name;
    uint32_t external_attributes;
    bool directory;
  };
  const Case cases[] = {
      {"d/", 0, true},
      {"d/", 0x81A40000, true},  // a Unix file mode, but the name says folder
      {"d", 0x10, true},
      {"d", 0x41ED0010, true},
      {"d", 0x41ED0000, false},  // a Unix folder mode alone does not
                                 // count
      {"d", 0x20, false},
      {"d/e", 0, false},
      {"/", 0, true},
      {"", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << '"' << c.name << "\" " << std::hex << c.external_attributes);
    ZipPlan plan = zip_of({stored_entry(c.name, "")});
    plan.entries[0].external_attributes = c.external_attributes;
    OpenedZip zip(build_zip(plan));
    ASSERT_TRUE(zip.is_open);
    EXPECT_EQ(zip_entry_is_directory(zip.archive.reader, 0), c.directory);
    EXPECT_FALSE(zip_entry_is_directory(zip.archive.reader, 1));
  }
}

// Each row is one bad entry between two good ones, which still extract.
TEST(ZipExtract, RefusesEntriesItCannotOrMustNotUnpack) {
  struct Case {
    const char* name;
    std::function<void(ZipEntryPlan&)> lie;
  };
  const std::string zeros(100000, '\0');
  const uint64_t zeros_packed = deflate_bytes(zeros).size();
  const Case cases[] = {
      {"encrypted", [](ZipEntryPlan& e) { e.flags = 0x0001; }},
      {"patch data", [](ZipEntryPlan& e) { e.flags = 0x0020; }},
      {"strong encryption", [](ZipEntryPlan& e) { e.flags = 0x0041; }},
      {"bzip2", [](ZipEntryPlan& e) { e.method = 12; }},
      {"lzma", [](ZipEntryPlan& e) { e.method = 14; }},
      {"deflate64", [](ZipEntryPlan& e) { e.method = 9; }},
      {"crc mismatch", [](ZipEntryPlan& e) { e.crc32 = crc32_of(e.content) ^ 1; }},
      {"stored, sizes differ",
       [](ZipEntryPlan& e) {
         e.method = 0;
         e.uncompressed_size = e.content.size() - 1;
       }},
      {"stored, both sizes too large",
       [](ZipEntryPlan& e) {
         e.method = 0;
         e.compressed_size = e.uncompressed_size = e.content.size() + 1;
       }},
      {"deflate, size understated", [](ZipEntryPlan& e) { e.uncompressed_size = e.content.size() - 1; }},
      {"deflate, size overstated", [](ZipEntryPlan& e) { e.uncompressed_size = e.content.size() + 1; }},
      {"no data but a size", [](ZipEntryPlan& e) { e.data = ""; }},
      {"stored, no data but a size",
       [](ZipEntryPlan& e) {
         e.method = 0;
         e.data = "";
         e.compressed_size = 0;
       }},
      {"deflate stream broken", [](ZipEntryPlan& e) { e.data = std::string(20, '\xFF'); }},
      {"past 1032 to 1",
       [zeros, zeros_packed](ZipEntryPlan& e) {
         e.content = zeros;
         e.uncompressed_size = 1032 * zeros_packed + 4097;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipEntryPlan bad = deflated_entry("bad", text_bytes(3000));
    c.lie(bad);
    OpenedZip zip(build_zip(zip_of({stored_entry("a", "alpha"), bad, deflated_entry("c", text_bytes(100))})));
    ASSERT_TRUE(zip.is_open);
    EXPECT_EQ(extract_entry(zip.archive, 0), "alpha");
    EXPECT_EQ(extract_entry(zip.archive, 1), std::nullopt);
    EXPECT_EQ(extract_entry(zip.archive, 2), text_bytes(100));
  }
}

// Claims far beyond what the data could give are refused before any
// allocation: under the sanitizers an attempt to allocate 2^62 bytes would
// end the test.
TEST(ZipExtract, RefusesImpossibleSizesBeforeAllocating) {
  ZipPlan plan = zip_of({stored_entry("stored", "tiny"), deflated_entry("deflated", text_bytes(100)),
                         deflated_entry("zip64", text_bytes(100)), stored_entry("nothing", "")});
  plan.entries[0].uncompressed_size = uint64_t{1} << 62;
  plan.entries[0].zip64 = true;
  plan.entries[1].uncompressed_size = 0xFFFFFFF0;
  plan.entries[2].uncompressed_size = uint64_t{1} << 62;
  plan.entries[2].zip64 = true;
  plan.entries[3].uncompressed_size = uint64_t{1} << 62;
  plan.entries[3].zip64 = true;
  OpenedZip zip(build_zip(plan));
  ASSERT_TRUE(zip.is_open);
  for (uint32_t i = 0; i < plan.entries.size(); ++i) {
    SCOPED_TRACE(plan.entries[i].name);
    EXPECT_EQ(extract_entry(zip.archive, i), std::nullopt);
  }
}

TEST(ZipExtract, ChecksTheLocalHeaderAndWhereTheDataEnd) {
  struct Case {
    const char* name;
    std::function<void(ZipLayout&)> patch;
  };
  using namespace zip_field;
  const Case cases[] = {
      {"local signature wrong", [](ZipLayout& z) { put_u32(z.bytes, z.local_header_offsets[1], 0x04034B51); }},
      {"local header past the archive",
       [](ZipLayout& z) { put_u32(z.bytes, z.central_record_offsets[1] + central_local_header_offset, 0xFFFFFF00); }},
      {"local name runs into the next header",
       [](ZipLayout& z) { put_u16(z.bytes, z.local_header_offsets[1] + local_name_size, 0xFFFF); }},
      // An offset that points at no local header bounds no other entry's data.
      {"local header offset inside the previous entry's data",
       [](ZipLayout& z) {
         put_u32(z.bytes, z.central_record_offsets[1] + central_local_header_offset, z.data_offsets[0] + 2);
       }},
      {"local header offset inside the next entry's data",
       [](ZipLayout& z) {
         put_u32(z.bytes, z.central_record_offsets[1] + central_local_header_offset, z.data_offsets[2] + 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipLayout layout = build_zip_layout(
        zip_of({stored_entry("a", "alpha"), deflated_entry("b", text_bytes(500)), stored_entry("c", "charlie")}));
    c.patch(layout);
    OpenedZip zip(layout.bytes);
    ASSERT_TRUE(zip.is_open);
    EXPECT_EQ(extract_entry(zip.archive, 0), "alpha");
    EXPECT_EQ(extract_entry(zip.archive, 1), std::nullopt);
    EXPECT_EQ(extract_entry(zip.archive, 2), "charlie");
  }
}

// Of entries that share one local header (and so one run of data), only the
// first in index order is extracted.
TEST(ZipOverlap, OnlyTheFirstEntryOfASharedLocalHeaderExtracts) {
  const std::string payload = std::string(50000, 'z');
  ZipPlan plan = zip_of({stored_entry("before", "x"), deflated_entry("a", payload)});
  for (int i = 0; i < 4; ++i) {
    plan.entries.push_back(deflated_entry("copy" + std::to_string(i), payload));
    plan.entries.back().shares_local_header_of = 1;
  }
  plan.entries.push_back(stored_entry("after", "y"));
  OpenedZip zip(build_zip(plan));
  ASSERT_TRUE(zip.is_open);
  EXPECT_EQ(extract_entry(zip.archive, 0), "x");
  EXPECT_EQ(extract_entry(zip.archive, 1), payload);
  for (uint32_t i = 2; i < 6; ++i) EXPECT_EQ(extract_entry(zip.archive, i), std::nullopt) << i;
  EXPECT_EQ(extract_entry(zip.archive, 6), "y");
}

// An entry whose data would run over the next structure is refused even
// when its sizes and CRC describe those bytes truly: the CRC below is made
// to match, so only the overlap test stands in the way.
TEST(ZipOverlap, RefusesDataThatRunPastTheNextStructure) {
  struct Case {
    const char* name;
    uint32_t entry;  // which entry's data is lengthened
    uint64_t extra;  // by how many bytes
    bool extracts;
  };
  const Case cases[] = {
      {"into the next local header", 0, 1, false},
      {"well into the next entry", 0, 40, false},
      {"into the central directory", 1, 1, false},
      {"up to the next local header", 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipPlan plan = zip_of({stored_entry("a", text_bytes(100)), stored_entry("b", text_bytes(100))});
    const ZipLayout plain = build_zip_layout(plan);
    const uint64_t start = plain.data_offsets[c.entry];
    const std::string claimed = plain.bytes.substr(start, 100 + c.extra);
    ZipEntryPlan& entry = plan.entries[c.entry];
    entry.compressed_size = entry.uncompressed_size = claimed.size();
    entry.crc32 = crc32_of(claimed);
    OpenedZip zip(build_zip(plan));
    ASSERT_TRUE(zip.is_open);
    EXPECT_EQ(extract_entry(zip.archive, c.entry), c.extracts ? std::optional(claimed) : std::nullopt);
    EXPECT_EQ(extract_entry(zip.archive, 1 - c.entry), text_bytes(100));
  }
}

// The overlapping construction: one entry's data hold another entry's local
// header and data. The outer entry runs past that header and is refused; the
// inner one is whole and extracts.
TEST(ZipOverlap, RefusesAnEntryWhoseDataHoldAnotherEntry) {
  const ZipLayout inner = build_zip_layout(zip_of({deflated_entry("inner", text_bytes(800))}));
  const std::string inner_records = inner.bytes.substr(0, inner.central_directory_offset);
  ZipLayout layout =
      build_zip_layout(zip_of({stored_entry("outer", inner_records), deflated_entry("inner", text_bytes(800))}));
  put_u32(layout.bytes, layout.central_record_offsets[1] + zip_field::central_local_header_offset,
          layout.data_offsets[0]);
  OpenedZip zip(layout.bytes);
  ASSERT_TRUE(zip.is_open);
  EXPECT_EQ(extract_entry(zip.archive, 0), std::nullopt);
  EXPECT_EQ(extract_entry(zip.archive, 1), text_bytes(800));
}

TEST(ZipExtract, ReadsANestedArchiveInPlace) {
  const std::string inner = build_zip(zip_of({deflated_entry("c.bin", text_bytes(900))}));
  OpenedZip outer(build_zip(zip_of({deflated_entry("inner.zip", inner)})));
  ASSERT_TRUE(outer.is_open);
  const std::optional<std::string> block = extract_entry(outer.archive, 0);
  ASSERT_EQ(block, inner);
  OpenedZip nested(*block);
  ASSERT_TRUE(nested.is_open);
  EXPECT_EQ(extract_entry(nested.archive, 0), text_bytes(900));
  // An empty or short nested entry does not open.
  OpenedZip empty("");
  EXPECT_FALSE(empty.is_open);
}
