// What opening an archive checks: the end records and the central
// directory's structure, but not the entries' own fields.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/opened_zip.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"

namespace {

ZipPlan two_entries() {
  return zip_of({stored_entry("a.bin", "alpha"), deflated_entry("b.bin", std::string(3000, 'b'))});
}

struct PatchCase {
  const char* name;
  std::function<void(ZipLayout&)> patch;
  bool opens;
};

void expect_opens_as_patched(const ZipPlan& plan, const PatchCase& c) {
  SCOPED_TRACE(c.name);
  ZipLayout layout = build_zip_layout(plan);
  c.patch(layout);
  OpenedZip zip(layout.bytes);
  ASSERT_EQ(zip.is_open, c.opens);
  if (!c.opens) return;
  EXPECT_EQ(zip_entry_count(zip.archive.reader), 2u);
  EXPECT_EQ(extract_entry(zip.archive, 0), "alpha");
  EXPECT_EQ(extract_entry(zip.archive, 1), std::string(3000, 'b'));
}

}  // namespace

TEST(ZipOpen, ChecksTheEndRecordAndTheCentralDirectory) {
  using namespace zip_field;
  const PatchCase cases[] = {
      {"intact", [](ZipLayout&) {}, true},
      {"this disk is 1", [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_this_disk, 1); }, false},
      {"directory on disk 1", [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_directory_disk, 1); },
       false},
      {"entries on this disk differ",
       [](ZipLayout& z) { put_u16(z.bytes, z.end_record_offset + end_entries_on_disk, 1); }, false},
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
       [](ZipLayout& z) {
         put_u32(z.bytes, z.end_record_offset + end_directory_size, z.central_directory_size + 1);
       },
       false},
      {"directory starts past the archive",
       [](ZipLayout& z) { put_u32(z.bytes, z.end_record_offset + end_directory_offset, 0xFFFFFF00); }, false},
      {"directory offset one byte early",
       [](ZipLayout& z) {
         put_u32(z.bytes, z.end_record_offset + end_directory_offset, z.central_directory_offset - 1);
       },
       false},
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
      {"record on disk 1",
       [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_locator_offset + locator_record_disk, 1); }, false},
      {"record offset past the locator",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_locator_offset + locator_record_offset, z.bytes.size()); },
       false},
      {"record offset wrong",
       [](ZipLayout& z) {
         put_u64(z.bytes, *z.zip64_locator_offset + locator_record_offset, *z.zip64_end_record_offset - 1);
       },
       false},
      {"record signature wrong", [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_end_record_offset, 0x06064B51); },
       false},
      {"record size too small",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_rest_size, 43); }, false},
      {"record size runs into the locator",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_rest_size, 45); }, false},
      {"record on disk 1", [](ZipLayout& z) { put_u32(z.bytes, *z.zip64_end_record_offset + zip64_this_disk, 1); },
       false},
      {"entries on this disk differ",
       [](ZipLayout& z) { put_u64(z.bytes, *z.zip64_end_record_offset + zip64_entries_on_disk, 1); }, false},
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
       [](ZipLayout& z) {
         put_u64(z.bytes, *z.zip64_end_record_offset + zip64_directory_offset, uint64_t{1} << 40);
       },
       false},
  };
  ZipPlan plan = two_entries();
  plan.zip64 = true;
  for (const PatchCase& c : cases) expect_opens_as_patched(plan, c);
}

TEST(ZipOpen, AFaultInOneEntryFailsOnlyThatEntry) {
  ZipPlan plan = zip_of({stored_entry("a.bin", "alpha"), stored_entry("b.bin", "bravo"),
                         stored_entry("c.bin", "charlie")});
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

// Offsets that count prepended bytes (as `zip -A` writes them) work; offsets
// that don't are not guessed at, so such an archive does not open.
TEST(ZipOpen, TakesOffsetsFromTheStartOfTheFile) {
  struct Case {
    const char* name;
    std::string prefix;
    bool offsets_count_prefix;
    std::string suffix;
    bool opens;
  };
  const Case cases[] = {
      {"prefix counted", std::string(1000, 'S'), true, "", true},
      {"prefix not counted", std::string(1000, 'S'), false, "", false},
      {"bytes appended", "", true, "appended junk", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipPlan plan = two_entries();
    plan.prefix = c.prefix;
    plan.offsets_count_prefix = c.offsets_count_prefix;
    plan.suffix = c.suffix;
    OpenedZip zip(build_zip(plan));
    ASSERT_EQ(zip.is_open, c.opens);
    if (!c.opens) continue;
    EXPECT_EQ(extract_entry(zip.archive, 0), "alpha");
    EXPECT_EQ(extract_entry(zip.archive, 1), std::string(3000, 'b'));
    EXPECT_EQ(zip.archive.comment_size, 0);
  }
}
