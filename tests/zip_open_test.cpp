// What opening an archive checks: the end records and the central
// directory's structure, but not the entries' own fields.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/opened_zip.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"

namespace {

ZipPlan two_entries() {
  return zip_of({stored_entry("a.bin", "alpha"), deflated_entry("b.bin", std::string(3000, 'b'))});
}

struct PatchCase {
  const char* name;
  std::function<void(ZipLayout&)> patch;
  bool opens;
  // False when the directory is found but the offsets, moved to where it
  // is, point at no local header: each entry then fails alone.
  bool entries_extract = true;
};

void expect_opens_as_patched(const ZipPlan& plan, const PatchCase& c) {
  SCOPED_TRACE(c.name);
  ZipLayout layout = build_zip_layout(plan);
  c.patch(layout);
  OpenedZip zip(layout.bytes);
  ASSERT_EQ(zip.is_open, c.opens);
  if (!c.opens) return;
  EXPECT_EQ(zip_entry_count(zip.archive.reader), 2u);
  EXPECT_EQ(extract_entry(zip.archive, 0), c.entries_extract ? std::optional<std::string>("alpha") : std::nullopt);
  EXPECT_EQ(extract_entry(zip.archive, 1), c.entries_extract ? std::optional(std::string(3000, 'b')) : std::nullopt);
}

}  // namespace

TEST(ZipOpen, ChecksTheEndRecordAndTheCentralDirectory) {
  using namespace zip_field;
  const PatchCase cases[] = {
      {"intact", [](ZipLayout&) {}, true},
      {"this disk is 1", [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_this_disk, 1); }, false},
      // With this disk 0 there is one disk: where it says the directory is
      // can only be garbage. A split set is still refused.
      {"directory on disk 1", [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_directory_disk, 1); },
       true},
      {"directory on disk 0xFFFF",
       [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_directory_disk, 0xFFFF); }, true},
      {"this disk is 1, directory on disk 1",
       [](ZipLayout& z) {
         put_u16(z.bytes, z.end_record_offset + end_this_disk, 1);
         put_u16(z.bytes, z.end_record_offset + end_directory_disk, 1);
       },
       false},
      // One count that agrees is enough; the other may be anything.
      {"entries on this disk differ",
       [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_entries_on_disk, 1); }, true},
      {"entries on this disk more than the directory can hold",
       [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_entries_on_disk, 0xFFFF); }, true},
      {"total differs, entries on this disk right",
       [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_entries, 1); }, true},
      {"total more than the directory can hold, entries on this disk right",
       [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_entries, 0xFFFF); }, true},
      {"both differ",
       [](ZipLayout& z) {
         put_u16(z.bytes, z.end_record_offset + end_entries_on_disk, 1);
         put_u16(z.bytes, z.end_record_offset + end_entries, 3);
       },
       false},
      {"one entry more than the records",
       [](ZipLayout& z) {
         put_u16(z.bytes, z.end_record_offset + end_entries_on_disk, 3);
         put_u16(z.bytes, z.end_record_offset + end_entries, 3);
       },
       false},
      {"one entry fewer than the records",
       [](ZipLayout& z) {
         put_u16(z.bytes, z.end_record_offset + end_entries_on_disk, 1);
         put_u16(z.bytes, z.end_record_offset + end_entries, 1);
       },
       false},
      {"more entries than the directory can hold",
       [](ZipLayout& z) {
         put_u16(z.bytes, z.end_record_offset + end_entries_on_disk, 0xFFFF);
         put_u16(z.bytes, z.end_record_offset + end_entries, 0xFFFF);
       },
       false},
      {"directory runs into the end record",
       [](ZipLayout& z) { put_u32(z.bytes, z.end_record_offset + end_directory_size, z.central_directory_size + 1); },
       false},
      // The directory is found right before the end record; the offsets
      // moved by as much lead nowhere.
      {"directory starts past the archive",
       [](ZipLayout& z) { put_u32(z.bytes, z.end_record_offset + end_directory_offset, 0xFFFFFF00); }, true, false},
      {"directory offset one byte early",
       [](ZipLayout& z) {
         put_u32(z.bytes, z.end_record_offset + end_directory_offset, z.central_directory_offset - 1);
       },
       true, false},
      {"directory offset saturated",
       [](ZipLayout& z) { put_u32(z.bytes, z.end_record_offset + end_directory_offset, 0xFFFFFFFF); }, false},
      {"directory size saturated",
       [](ZipLayout& z) { put_u32(z.bytes, z.end_record_offset + end_directory_size, 0xFFFFFFFF); }, false},
      {"a central record's signature is wrong",
       [](ZipLayout& z) { put_u32(z.bytes, z.central_record_offsets[1], 0x02014B51); }, false},
      {"a name runs past the directory",
       [](ZipLayout& z) { put_u16(z.bytes, z.central_record_offsets[1] + central_name_size, 200); }, false},
      {"an entry comment runs past the directory",
       [](ZipLayout& z) { put_u16(z.bytes, z.central_record_offsets[1] + central_comment_size, 1); }, false},
      {"an extra field runs past the directory",
       [](ZipLayout& z) { put_u16(z.bytes, z.central_record_offsets[0] + central_extra_size, 0xFFFF); }, false},
      {"bytes after the last record that are no record",
       [](ZipLayout& z) {
         // Shrinking the last name leaves 2 loose bytes at the directory's end.
         put_u16(z.bytes, z.central_record_offsets[1] + central_name_size, 3);
       },
       true},
  };
  for (const PatchCase& c : cases) expect_opens_as_patched(two_entries(), c);
}

TEST(ZipOpen, ReadsTheZip64EndRecordWhenTheLocatorIsThere) {
  using namespace zip_field;
  const PatchCase cases[] = {
      {"intact", [](ZipLayout&) {}, true},
      {"locator total disks 0",
       [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_locator_offset + locator_total_disks, 0); }, true},
      {"locator total disks 2",
       [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_locator_offset + locator_total_disks, 2); }, false},
      {"record on disk 1", [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_locator_offset + locator_record_disk, 1); },
       false},
      // A record that is not where the locator says is looked for right
      // before the locator.
      {"record offset past the locator",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_locator_offset + locator_record_offset, z.bytes.size()); }, true},
      {"record offset wrong",
       [](ZipLayout& z) {
         put_u64(z.bytes, *z.zip64_locator_offset + locator_record_offset, *z.zip64_end_record_offset - 1);
       },
       true},
      {"record signature wrong", [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_end_record_offset, 0x06064B51); }, false},
      {"record size too small",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_rest_size, 43); }, false},
      {"record size runs into the locator",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_rest_size, 45); }, false},
      {"record on disk 1", [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_end_record_offset + zip64_this_disk, 1); },
       false},
      {"directory on disk 1",
       [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_end_record_offset + zip64_directory_disk, 1); }, true},
      {"record on disk 1, directory on disk 1",
       [](ZipLayout& z) {
         put_u32(z.bytes, *z.zip64_end_record_offset + zip64_this_disk, 1);
         put_u32(z.bytes, *z.zip64_end_record_offset + zip64_directory_disk, 1);
       },
       false},
      {"entries on this disk differ",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries_on_disk, 1); }, true},
      {"entries on this disk as far as 64 bits go",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries_on_disk, UINT64_MAX); }, true},
      {"total differs, entries on this disk right",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries, 1); }, true},
      {"total as far as 64 bits go, entries on this disk right",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries, UINT64_MAX); }, true},
      {"both differ",
       [](ZipLayout& z) {
         put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries_on_disk, 3);
         put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries, 1);
       },
       false},
      {"more entries than the records",
       [](ZipLayout& z) {
         put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries_on_disk, 3);
         put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries, 3);
       },
       false},
      {"more entries than 32 bits count",
       [](ZipLayout& z) {
         put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries_on_disk, uint64_t{1} << 32 | 2);
         put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries, uint64_t{1} << 32 | 2);
       },
       false},
      {"directory runs into the zip64 record",
       [](ZipLayout& z) {
         put_u64(z.bytes, *z.zip64_end_record_offset + zip64_directory_size, z.central_directory_size + 1);
       },
       false},
      {"directory offset past the archive",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_directory_offset, uint64_t{1} << 40); },
       true, false},
      {"directory offset as far as 64 bits go",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_directory_offset, UINT64_MAX); }, false},
  };
  ZipPlan plan = two_entries();
  plan.zip64 = true;
  for (const PatchCase& c : cases) expect_opens_as_patched(plan, c);
}

TEST(ZipOpen, AFaultInOneEntryFailsOnlyThatEntry) {
  ZipPlan plan =
      zip_of({stored_entry("a.bin", "alpha"), stored_entry("b.bin", "bravo"), stored_entry("c.bin", "charlie")});
  plan.entries[1].zip64 = true;
  plan.entries[1].zip64_extra_size = 8;  // holds the uncompressed size only
  ZipLayout layout = build_zip_layout(plan);
  put_u32(layout.bytes, layout.local_header_offsets[2], 0x04034B51);  // c.bin's local header
  OpenedZip zip(layout.bytes);
  ASSERT_TRUE(zip.is_open);
  ASSERT_EQ(zip_entry_count(zip.archive.reader), 3u);
  ZipEntryStat stat{};
  EXPECT_TRUE(zip_stat_entry(zip.archive.reader, 0, stat));
  EXPECT_FALSE(zip_stat_entry(zip.archive.reader, 1, stat));
  EXPECT_TRUE(zip_stat_entry(zip.archive.reader, 2, stat));
  EXPECT_EQ(extract_entry(zip.archive, 0), "alpha");
  EXPECT_EQ(extract_entry(zip.archive, 1), std::nullopt);
  EXPECT_EQ(extract_entry(zip.archive, 2), std::nullopt);
}

// Offsets that count prepended bytes (as `zip -A` writes them) work. Offsets
// that don't, or that count bytes since cut from the front, are moved by
// the difference between where the directory is recorded and where it is
// (right before the end records); an entry whose local header was cut off
// fails alone.
TEST(ZipOpen, TakesOffsetsFromTheStartOfTheFile) {
  struct Case {
    const char* name;
    std::string prefix;
    bool offsets_count_prefix;
    std::string suffix;
    bool zip64;
    size_t cut_front;  // bytes removed from the finished archive's front
    bool opens;
    bool first_extracts;
  };
  const Case cases[] = {
      {"prefix counted", std::string(1000, 'S'), true, "", false, 0, true, true},
      {"prefix not counted", std::string(1000, 'S'), false, "", false, 0, true, true},
      {"prefix not counted, zip64", std::string(1000, 'S'), false, "", true, 0, true, true},
      {"prefix of 3 bytes not counted", "SFX", false, "", false, 0, true, true},
      {"first entry cut off", "", true, "", false, 40, true, false},
      {"first entry cut off, zip64", "", true, "", true, 40 + 20, true, false},
      {"part of the first entry cut off", "", true, "", false, 10, true, false},
      {"bytes appended", "", true, "appended junk", false, 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipPlan plan = two_entries();
    plan.prefix = c.prefix;
    plan.offsets_count_prefix = c.offsets_count_prefix;
    plan.suffix = c.suffix;
    plan.zip64 = c.zip64;
    if (c.zip64) plan.entries[0].zip64 = true;  // its local header holds a zip64 block of 20 bytes
    OpenedZip zip(build_zip(plan).substr(c.cut_front));
    ASSERT_EQ(zip.is_open, c.opens);
    if (!c.opens) continue;
    EXPECT_EQ(extract_entry(zip.archive, 0), c.first_extracts ? std::optional<std::string>("alpha") : std::nullopt);
    EXPECT_EQ(extract_entry(zip.archive, 1), std::string(3000, 'b'));
    EXPECT_EQ(zip.archive.comment_size, 0);
  }
}

// A writer that counts entries in 16 bits writes 65,536 + N entries as N;
// the records walked tell the truth. Both counts disagreeing otherwise is
// refused.
TEST(ZipOpen, CountsEveryRecordPastA16BitWrap) {
  using namespace zip_field;
  constexpr uint32_t walked = 65536 + 2;
  std::vector<ZipEntryPlan> entries;
  entries.reserve(walked);
  for (uint32_t i = 0; i < walked; ++i) entries.push_back(stored_entry(std::to_string(i), std::to_string(i * 7)));
  ZipPlan plan = zip_of(std::move(entries));
  const ZipLayout plain = build_zip_layout(plan);  // the 16-bit counts hold 2
  plan.zip64 = true;
  const ZipLayout zip64 = build_zip_layout(plan);  // the zip64 counts hold 65,538

  const auto set_counts = [](ZipLayout& z, uint16_t on_disk, uint16_t total) {
    put_u16(z.bytes, z.end_record_offset + end_entries_on_disk, on_disk);
    put_u16(z.bytes, z.end_record_offset + end_entries, total);
  };
  const auto set_zip64_counts = [](ZipLayout& z, uint64_t on_disk, uint64_t total) {
    put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries_on_disk, on_disk);
    put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries, total);
  };
  struct Case {
    const char* name;
    const ZipLayout* base;
    std::function<void(ZipLayout&)> patch;
    bool opens;
  };
  const Case cases[] = {
      {"both counts wrapped", &plain, [](ZipLayout&) {}, true},
      {"on this disk wrapped, total wrong", &plain, [&](ZipLayout& z) { set_counts(z, 2, 9); }, true},
      {"total wrapped, on this disk wrong", &plain, [&](ZipLayout& z) { set_counts(z, 9, 2); }, true},
      {"total wrapped, on this disk saturated", &plain, [&](ZipLayout& z) { set_counts(z, 0xFFFF, 2); }, true},
      {"total saturated, on this disk wrapped", &plain, [&](ZipLayout& z) { set_counts(z, 2, 0xFFFF); }, true},
      {"both wrong, 7 apart", &plain, [&](ZipLayout& z) { set_counts(z, 1, 8); }, false},
      {"both one short of the wrap", &plain, [&](ZipLayout& z) { set_counts(z, 1, 1); }, false},
      {"both one past the wrap", &plain, [&](ZipLayout& z) { set_counts(z, 3, 3); }, false},
      {"both saturated", &plain, [&](ZipLayout& z) { set_counts(z, 0xFFFF, 0xFFFF); }, false},
      {"zip64, true counts", &zip64, [](ZipLayout&) {}, true},
      {"zip64, total wrapped", &zip64, [&](ZipLayout& z) { set_zip64_counts(z, walked, 2); }, true},
      {"zip64, on disk wrapped", &zip64, [&](ZipLayout& z) { set_zip64_counts(z, 2, walked); }, true},
      {"zip64, both wrapped", &zip64, [&](ZipLayout& z) { set_zip64_counts(z, 2, 2); }, true},
      {"zip64, one fewer", &zip64, [&](ZipLayout& z) { set_zip64_counts(z, walked - 1, walked - 1); }, false},
      {"zip64, total one fewer", &zip64, [&](ZipLayout& z) { set_zip64_counts(z, walked, walked - 1); }, true},
      {"zip64, on disk one fewer, total wrapped", &zip64, [&](ZipLayout& z) { set_zip64_counts(z, walked - 1, 2); },
       true},
      {"zip64, wrapped by 2^32", &zip64,
       [&](ZipLayout& z) { set_zip64_counts(z, walked + (uint64_t{1} << 32), walked + (uint64_t{1} << 32)); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipLayout layout = *c.base;
    c.patch(layout);
    OpenedZip zip(std::move(layout.bytes));
    ASSERT_EQ(zip.is_open, c.opens);
    if (!c.opens) continue;
    ASSERT_EQ(zip_entry_count(zip.archive.reader), walked);
    for (const uint32_t i : {0u, 65535u, 65536u, walked - 1})
      EXPECT_EQ(extract_entry(zip.archive, i), std::to_string(i * 7));
  }
}
