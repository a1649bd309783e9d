// Finding the end record and capturing the archive comment.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "support/opened_zip.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"

namespace {

std::string pattern(size_t size, const char* text = "comment-") {
  std::string out;
  while (out.size() < size) out += text;
  out.resize(size);
  return out;
}

ZipPlan one_entry() {
  return zip_of({stored_entry("a.bin", "alpha")});
}

}  // namespace

TEST(ZipComment, CapturesTheStatedLengthAndAtMost511BytesOfWhatIsThere) {
  struct Case {
    const char* name;
    std::string comment;             // the bytes after the end record
    std::optional<uint16_t> stated;  // the length the record states, when it lies
    bool opens;
    uint16_t want_size;
    std::string want_kept;
  };
  const std::string s600 = pattern(600);
  const Case cases[] = {
      {"no comment", "", std::nullopt, true, 0, ""},
      {"one byte", "x", std::nullopt, true, 1, "x"},
      {"511 bytes", pattern(511), std::nullopt, true, 511, pattern(511)},
      {"512 bytes", pattern(512), std::nullopt, true, 512, pattern(511)},
      {"600 bytes, all there", s600, std::nullopt, true, 600, s600.substr(0, 511)},
      // A length past the end of the file: the comment is what is there.
      {"states 600, 520 follow", pattern(520), 600, true, 520, pattern(511)},
      {"states 600, 511 follow", pattern(511), 600, true, 511, pattern(511)},
      {"states 600, 510 follow", pattern(510), 600, true, 510, pattern(510)},
      {"states 10, 4 follow", "abcd", 10, true, 4, "abcd"},
      {"states 1, none follow", "", 1, true, 0, ""},
      {"states 65535, 600 follow", s600, 65535, true, 600, s600.substr(0, 511)},
      {"states 0, 5 follow", "hello", 0, true, 0, ""},
      {"NUL first", std::string("\0abc", 4), std::nullopt, true, 4, std::string("\0abc", 4)},
      {"any bytes", std::string("\xFF\x01\nPK", 5), std::nullopt, true, 5, std::string("\xFF\x01\nPK", 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipPlan plan = one_entry();
    plan.comment = c.comment;
    plan.comment_size = c.stated;
    OpenedZip zip(build_zip(plan));
    ASSERT_EQ(zip.is_open, c.opens);
    if (!c.opens) continue;
    EXPECT_EQ(zip.archive.comment_size, c.want_size);
    EXPECT_EQ(kept_comment(zip.archive), c.want_kept);
    EXPECT_EQ(extract_entry(zip.archive, 0), "alpha");
  }
}

TEST(ZipComment, LeavesEveryCommentByteZeroWithoutAComment) {
  OpenedZip zip(build_zip(one_entry()));
  ASSERT_TRUE(zip.is_open);
  const char zeros[sizeof zip.archive.comment] = {};
  EXPECT_EQ(zip.archive.comment_size, 0);
  EXPECT_EQ(std::memcmp(zip.archive.comment, zeros, sizeof zeros), 0);
}

TEST(ZipComment, AFailedOpenLeavesTheArchiveCleared) {
  ZipPlan plan = one_entry();
  plan.comment = "abcd";
  plan.comment_size = 10;
  ZipLayout layout = build_zip_layout(plan);
  put_u32(layout.bytes, layout.central_record_offsets[0], 0x02014B51);  // no central record
  const std::string& bytes = layout.bytes;
  ZipArchive archive{};
  ASSERT_FALSE(zip_open_memory(archive, bytes.data(), bytes.size()));
  const ZipArchive cleared{};
  EXPECT_EQ(std::memcmp(&archive, &cleared, sizeof archive), 0);
}

TEST(ZipEndRecord, TheLastSignatureWith22BytesAfterItWins) {
  const std::string signature("PK\x05\x06", 4);
  struct Case {
    const char* name;
    std::string comment;
    bool takes_the_comment_signature;
  };
  const Case cases[] = {
      {"signature and 18 bytes", signature + std::string(18, '\0'), true},
      {"signature and 17 bytes", signature + std::string(17, '\0'), false},
      {"signature at the very end", std::string(30, 'x') + signature, false},
      {"signature split over nothing", "PK\x05", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipPlan plan = one_entry();
    plan.comment = c.comment;
    const ZipLayout layout = build_zip_layout(plan);
    OpenedZip zip(layout.bytes);
    ASSERT_TRUE(zip.is_open);
    uint64_t offset = 0;
    ASSERT_TRUE(find_end_record(zip.archive.reader, offset));
    if (c.takes_the_comment_signature) {
      // The record inside the comment says: no entries, no comment.
      EXPECT_EQ(offset, layout.end_record_offset + 22);
      EXPECT_EQ(zip_entry_count(zip.archive.reader), 0u);
      EXPECT_EQ(zip.archive.comment_size, 0);
    } else {
      EXPECT_EQ(offset, layout.end_record_offset);
      EXPECT_EQ(zip_entry_count(zip.archive.reader), 1u);
      EXPECT_EQ(zip.archive.comment_size, c.comment.size());
    }
  }
}

TEST(ZipEndRecord, NeedsAtLeast22Bytes) {
  const std::string record = bare_end_record();
  OpenedZip short_archive(record.substr(0, 21));
  EXPECT_FALSE(short_archive.is_open);
  OpenedZip bare(record);
  ASSERT_TRUE(bare.is_open);
  EXPECT_EQ(zip_entry_count(bare.archive.reader), 0u);
  EXPECT_EQ(bare.archive.comment_size, 0);
  OpenedZip empty("");
  EXPECT_FALSE(empty.is_open);
  ZipArchive archive{};
  EXPECT_FALSE(zip_open_memory(archive, nullptr, 22));
}

// A small archive with a long comment has its end record before the first
// 4,096-byte block; the last block is moved to offset 0 to reach it.
TEST(ZipEndRecord, FindsTheRecordOfASmallArchiveWithALongComment) {
  ZipPlan plan = one_entry();
  const size_t without_comment = build_zip(plan).size();
  plan.comment = pattern(5000 - without_comment);
  const ZipLayout layout = build_zip_layout(plan);
  ASSERT_EQ(layout.bytes.size(), 5000u);
  ASSERT_LT(layout.end_record_offset, 904u);
  OpenedZip zip(layout.bytes);
  ASSERT_TRUE(zip.is_open);
  EXPECT_EQ(zip.archive.comment_size, plan.comment.size());
  EXPECT_EQ(extract_entry(zip.archive, 0), "alpha");
}

// Blocks of 4,096 bytes step back 4,093 bytes at a time; the search stops
// after a block at offset 0 or one that starts 65,557 or more bytes from
// the end, so the seventeenth block, 69,584 bytes back, is the last.
TEST(ZipEndRecord, SearchesAtMost17BlocksBack) {
  struct Case {
    size_t bytes_before;  // before the end record
    size_t distance;      // from the record's first byte to the end
    bool found;
  };
  const Case cases[] = {
      {80000, 22, true},     {80000, 4096, true}, {80000, 4097, true}, {80000, 65557, true}, {80000, 69584, true},
      {80000, 69585, false}, {100, 65000, true},  {100, 69585, false}, {4092, 65000, true},  {0, 4097, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bytes_before << " before, " << c.distance << " from the end");
    const size_t comment_size = c.distance - 22 < 65535 ? c.distance - 22 : 65535;
    // An empty central directory at offset 0 is valid wherever the record is.
    std::string bytes = pattern(c.bytes_before, "prefix") + bare_end_record(0, 0, 0, comment_size);
    bytes += pattern(c.distance - 22);
    OpenedZip zip(bytes);
    ASSERT_EQ(zip.is_open, c.found);
    if (!c.found) continue;
    uint64_t offset = 0;
    EXPECT_TRUE(find_end_record(zip.archive.reader, offset));
    EXPECT_EQ(offset, c.bytes_before);
    EXPECT_EQ(zip.archive.comment_size, comment_size);
  }
}
