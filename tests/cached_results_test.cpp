// The cache's row encoding and its default place.
#include "cache/cached_results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cache/cache_location.h"

namespace {

CachedResults sample_results() {
  CachedResults results;
  CachedItem image{};
  image.kind = CachedItemKind::Image;
  image.levels = {CachedLevel{1, false, 0, "dir/a.bin"}};
  image.image.summary.size = 0x3000;  // 12 KiB: four -m1 segments
  image.image.summary.crc = 0xCBF43926;
  image.image.summary.sum = 0x1234;
  for (int k = 0; k < sha256_size; ++k) image.image.summary.sha256[k] = static_cast<uint8_t>(k * 9);
  image.image.segment_sums[0] = 0xF000;
  image.image.segment_sums[3] = 0x0001;
  image.image.digests = digest_sha256 | digest_segment_sums;
  results.items.push_back(image);
  CachedItem failure{};
  failure.kind = CachedItemKind::Failure;
  // Any bytes; a gzip image inside a nested 7z, whose name comes from its archive.
  failure.levels = {CachedLevel{1, false, 3, std::string("b\0\xff.7z", 7)}, CachedLevel{3, false, 70, "x.bin.gz"},
                    CachedLevel{8, true, 0, ""}};
  failure.message = 5;
  failure.reason = 4;
  failure.entry_index = 70000;
  results.items.push_back(failure);
  CachedItem comment{};
  comment.kind = CachedItemKind::Comment;
  comment.levels = {};
  comment.comment = std::string(300, 'c');  // a length of two varint bytes
  results.items.push_back(comment);
  // An audit's image: SHA-1, MD5 and a header-less block, no SHA-256.
  CachedItem audited = image;
  audited.levels = {CachedLevel{1, false, 1, "headered.nes"}};
  audited.image.summary.size = 0x1'0000'0001;  // no -m1 segments: held as zero
  std::memset(audited.image.segment_sums, 0, sizeof audited.image.segment_sums);
  audited.image.digests = digest_sha1 | digest_md5 | digest_headerless;
  audited.image.audit.taken = taken_sha1 | taken_md5 | taken_headerless;
  for (int k = 0; k < sha1_size; ++k) audited.image.audit.sha1[k] = static_cast<uint8_t>(k + 1);
  for (int k = 0; k < md5_size; ++k) audited.image.audit.md5[k] = static_cast<uint8_t>(k + 2);
  audited.image.audit.headerless = HeaderlessSummary{0x1'0000'0001 - 16, 0x12345678, {9, 8, 7}};
  audited.image.header_rules_id = 0xFEDCBA9876543210;
  results.items.push_back(audited);
  // A -m2 run's 2 KiB image: its shift-register checksum, no segments.
  CachedItem small = image;
  small.levels = {CachedLevel{1, false, 2, "small.bin"}};
  small.image.summary.size = 0x800;
  std::memset(small.image.segment_sums, 0, sizeof small.image.segment_sums);
  small.image.shift16 = 0x1180;
  small.image.digests = digest_sha256 | digest_shift16;
  results.items.push_back(small);
  return results;
}

bool decodes(const std::string& bytes, CachedResults& out) {
  return decode_cached_results(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
}

}  // namespace

TEST(CachedResults, DecodeGivesBackWhatWasEncoded) {
  const CachedResults results = sample_results();
  CachedResults decoded;
  ASSERT_TRUE(decodes(encode_cached_results(results), decoded));
  ASSERT_EQ(decoded.items.size(), 5u);
  EXPECT_TRUE(same_cached_results(decoded, results));
  // What the size has not is held, as zero; the rest as written.
  EXPECT_EQ(decoded.items[0].image.digests, uint32_t{digest_sha256 | digest_segment_sums | digest_shift16});
  EXPECT_EQ(decoded.items[0].image.segment_sums[0], 0xF000);
  EXPECT_EQ(decoded.items[4].image.digests, uint32_t{digest_sha256 | digest_shift16 | digest_segment_sums});
  EXPECT_EQ(decoded.items[4].image.shift16, 0x1180);
  EXPECT_EQ(decoded.items[1].levels, results.items[1].levels);
  EXPECT_EQ(decoded.items[1].entry_index, 70000u);
  EXPECT_EQ(decoded.items[2].comment, results.items[2].comment);
  const CachedImage& audited = decoded.items[3].image;
  EXPECT_EQ(audited.digests,
            uint32_t{digest_sha1 | digest_md5 | digest_headerless | digest_segment_sums | digest_shift16});
  EXPECT_EQ(audited.summary.size, 0x1'0000'0001u);
  EXPECT_EQ(audited.audit.taken, taken_sha1 | taken_md5 | taken_headerless);
  EXPECT_EQ(audited.audit.headerless.size, 0x1'0000'0001u - 16);
  EXPECT_EQ(audited.audit.headerless.crc, 0x12345678u);
  EXPECT_EQ(audited.audit.headerless.sha1[2], 7);
  EXPECT_EQ(audited.header_rules_id, 0xFEDCBA9876543210u);
  ASSERT_TRUE(decodes(encode_cached_results(CachedResults{}), decoded));
  EXPECT_TRUE(decoded.items.empty());
}

// Every cut of a row fails, except between items: a cut there is a shorter,
// valid row, which the key still guards.
TEST(CachedResults, RefusesEveryCutInsideAnItem) {
  const CachedResults results = sample_results();
  const std::string bytes = encode_cached_results(results);
  std::vector<size_t> item_ends;
  CachedResults prefix;
  for (size_t k = 0; k <= results.items.size(); ++k) {
    prefix.items.assign(results.items.begin(), results.items.begin() + static_cast<ptrdiff_t>(k));
    item_ends.push_back(encode_cached_results(prefix).size());
  }
  for (size_t size = 0; size < bytes.size(); ++size) {
    SCOPED_TRACE(size);
    CachedResults decoded;
    const bool at_item_end = std::find(item_ends.begin(), item_ends.end(), size) != item_ends.end();
    EXPECT_EQ(decodes(bytes.substr(0, size), decoded), at_item_end);
  }
}

TEST(CachedResults, ChecksVersionKindsAndFields) {
  const std::string image = encode_cached_results(CachedResults{{sample_results().items[0]}});
  // The image item: kind, level count, the level (kind, flags, index, name
  // length and name), field count, then the fields.
  const size_t fields = 1 + 1 + 1 + 4 + std::strlen("dir/a.bin");
  ASSERT_EQ(image[fields], 5);  // size, CRC-32, sum, segment sums, SHA-256
  ASSERT_EQ(image[fields + 1], 1);  // the size field's tag
  struct Case {
    const char* label;
    std::string bytes;
    bool want;
  };
  std::string wrong_length = image;
  wrong_length[fields + 2] = 7;  // the size field said to be 7 bytes long
  std::string unknown_tag = image;
  unknown_tag[fields + 1] = 99;  // a later version's field; then the size is missing
  std::string later_field = image;
  later_field[fields] = 6;
  later_field += std::string("\x63\x02xy", 4);
  std::string without_digest = image.substr(0, image.size() - 34);
  without_digest[fields] = 4;
  // Read by a run that took no segment sums: the field is left out.
  const size_t segments_at = fields + 1 + 10 + 6 + 4;
  ASSERT_EQ(image[segments_at], 4);  // the segment sums' tag
  std::string without_segments = image.substr(0, segments_at) + image.substr(segments_at + 10);
  without_segments[fields] = 4;
  const Case cases[] = {
      {"as written", image, true},
      {"a later version", "\x03", false},
      {"the first version, of display names", "\x01", false},
      {"no version", "", false},
      {"an unknown item kind", std::string("\x02\x09\x00", 3), false},
      {"a known field of another length", wrong_length, false},
      {"a sum every image has is missing", unknown_tag, false},
      {"a field of a later version is skipped", later_field, true},
      {"an image without its digest", without_digest, true},
      {"an image without its segment sums", without_segments, true},
      {"a name longer than the row",
       std::string("\x02\x02\x01\x01\x00\x00\x05"
                   "ab",
                   9),
       false},
      {"a length of eleven varint bytes", std::string("\x02\x03") + std::string(10, '\xff') + "\x01", false},
      {"an entry index past 32 bits", std::string("\x02\x02\x00\x01\x01\x80\x80\x80\x80\x10", 10), false},
      {"a level's index past 32 bits", std::string("\x02\x02\x01\x01\x00\x80\x80\x80\x80\x10\x00\x01\x01\x00", 14),
       false},
      {"a level's unknown flag", std::string("\x02\x02\x01\x01\x02\x00\x00\x01\x01\x00", 10), false},
      {"more levels than a walk nests", std::string("\x02\x02\x41", 3), false},
      {"a gzip image named by its archive", std::string("\x02\x02\x01\x08\x01\x00\x00\x01\x01\x00", 10), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CachedResults decoded;
    EXPECT_EQ(decodes(c.bytes, decoded), c.want);
  }
  CachedResults decoded;
  ASSERT_TRUE(decodes(without_digest, decoded));
  EXPECT_EQ(decoded.items[0].image.digests, uint32_t{digest_segment_sums | digest_shift16});
  ASSERT_TRUE(decodes(without_segments, decoded));
  EXPECT_EQ(decoded.items[0].image.digests, uint32_t{digest_sha256 | digest_shift16});
}

// A row compared with a new reading: digests only where both have them.
TEST(CachedResults, SameWhenEverySumBothHoldAgrees) {
  const CachedResults base = sample_results();
  struct Case {
    const char* label;
    void (*change)(CachedResults&);
    bool want;
  };
  const Case cases[] = {
      {"unchanged", [](CachedResults&) {}, true},
      {"another digest", [](CachedResults& r) { r.items[0].image.summary.sha256[31] ^= 1; }, false},
      {"another digest, held by one only",
       [](CachedResults& r) {
         r.items[0].image.summary.sha256[31] ^= 1;
         r.items[0].image.digests = 0;
       },
       true},
      {"another CRC", [](CachedResults& r) { r.items[0].image.summary.crc ^= 1; }, false},
      {"another segment sum", [](CachedResults& r) { r.items[0].image.segment_sums[2] = 1; }, false},
      {"another segment sum, held by one only",
       [](CachedResults& r) {
         r.items[0].image.segment_sums[2] = 1;
         r.items[0].image.digests &= ~uint32_t{digest_segment_sums};
       },
       true},
      {"another shift checksum", [](CachedResults& r) { r.items[4].image.shift16 = 0; }, false},
      {"another shift checksum, held by one only",
       [](CachedResults& r) {
         r.items[4].image.shift16 = 0;
         r.items[4].image.digests &= ~uint32_t{digest_shift16};
       },
       true},
      {"another reason", [](CachedResults& r) { r.items[1].reason = 3; }, false},
      {"another name", [](CachedResults& r) { r.items[1].levels[0].name = "c.7z"; }, false},
      {"another entry index", [](CachedResults& r) { r.items[1].levels[1].index = 71; }, false},
      {"a level less", [](CachedResults& r) { r.items[1].levels.pop_back(); }, false},
      {"another comment", [](CachedResults& r) { r.items[2].comment = "new"; }, false},
      {"an item less", [](CachedResults& r) { r.items.pop_back(); }, false},
      {"another SHA-1", [](CachedResults& r) { r.items[3].image.audit.sha1[0] ^= 1; }, false},
      {"another MD5", [](CachedResults& r) { r.items[3].image.audit.md5[0] ^= 1; }, false},
      {"another header-less block", [](CachedResults& r) { r.items[3].image.audit.headerless.crc ^= 1; }, false},
      {"another header-less block by other rules",
       [](CachedResults& r) {
         r.items[3].image.audit.headerless.crc ^= 1;
         r.items[3].image.header_rules_id ^= 1;
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    CachedResults changed = base;
    c.change(changed);
    EXPECT_EQ(same_cached_results(base, changed), c.want);
  }
}

TEST(CacheLocation, FollowsTheBaseDirectoryRule) {
  struct Case {
    const char* xdg;
    const char* home;
    const char* want;
  };
  const Case cases[] = {
      {"/x/cache", "/home/u", "/x/cache/imgchk/cache.sqlite"},
      {"relative", "/home/u", "/home/u/.cache/imgchk/cache.sqlite"},
      {"", "/home/u", "/home/u/.cache/imgchk/cache.sqlite"},
      {nullptr, "/home/u", "/home/u/.cache/imgchk/cache.sqlite"},
      {nullptr, "", ""},
      {nullptr, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.want);
    EXPECT_EQ(default_cache_path(c.xdg, c.home), c.want);
  }
}

// A row read again for a digest it lacked keeps those it had; what the row
// can answer is what every image holds.
TEST(CachedResults, KeepsDigestsOfAnEarlierReading) {
  const CachedResults kept = sample_results();
  CachedResults fresh = kept;
  fresh.items[0].image.digests = 0;
  std::memset(fresh.items[0].image.summary.sha256, 0, sha256_size);
  std::memset(fresh.items[0].image.segment_sums, 0, sizeof fresh.items[0].image.segment_sums);
  fresh.items[4].image.digests = digest_sha256;
  fresh.items[4].image.shift16 = 0;
  CachedImage& audited = fresh.items[3].image;
  audited.digests &= ~uint32_t{digest_md5};
  audited.audit.taken &= ~taken_md5;
  std::memset(audited.audit.md5, 0, md5_size);
  add_kept_digests(kept, fresh);
  EXPECT_EQ(fresh.items[0].image.digests, kept.items[0].image.digests);
  EXPECT_EQ(std::memcmp(fresh.items[0].image.summary.sha256, kept.items[0].image.summary.sha256, sha256_size), 0);
  EXPECT_EQ(fresh.items[0].image.segment_sums[0], 0xF000);
  EXPECT_EQ(fresh.items[4].image.digests, kept.items[4].image.digests);
  EXPECT_EQ(fresh.items[4].image.shift16, 0x1180);
  EXPECT_EQ(audited.digests, kept.items[3].image.digests);
  EXPECT_EQ(audited.audit.taken, kept.items[3].image.audit.taken);
  EXPECT_EQ(std::memcmp(audited.audit.md5, kept.items[3].image.audit.md5, md5_size), 0);
  EXPECT_EQ(digests_of_every_image(fresh), 0u);  // no digest both images hold
  EXPECT_EQ(digests_of_every_image(CachedResults{{fresh.items[3]}}),
            uint32_t{digest_sha1 | digest_md5 | digest_headerless});
  EXPECT_EQ(digests_of_every_image(CachedResults{}), ~uint32_t{0});
}
