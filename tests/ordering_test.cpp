// Sorting by CRC and name, groups of equal CRC and size, duplicate marks and
// the "CRC collision!" reports.
#include "catalogue/ordering.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "report/listing.h"
#include "support/capture_stdout.h"
#include "support/test_bytes.h"

namespace {

struct Image {
  std::string name;
  std::string bytes;
};

struct Marked {
  std::vector<std::string> names;   // in sorted order
  std::vector<RomStatus> statuses;  // the same order
  std::vector<uint64_t> sizes;      // the same order
  std::string reports;              // what mark_duplicates wrote
};

Marked sort_and_mark(const std::vector<Image>& images) {
  Catalogue catalogue;
  for (const Image& image : images) {
    add_rom(catalogue, SumPlan{}, image.name.c_str(), image.bytes.size(),
            reinterpret_cast<const uint8_t*>(image.bytes.data()));
  }
  Marked marked;
  build_sorted_index(catalogue);
  marked.reports = capture_stdout([&] { mark_duplicates(catalogue, print_collision); });
  for (const RomEntry* rom : catalogue.sorted) {
    marked.names.emplace_back(display_name(rom->origin));
    marked.statuses.push_back(rom->status);
    marked.sizes.push_back(rom->summary.size);
  }
  return marked;
}

std::string report(const std::string& earlier, const std::string& later) {
  return "CRC collision!\n\t" + earlier + "\n\t" + later + "\n";
}

// Three different 16-byte contents sharing one CRC.
const uint32_t shared_crc = 0x5EED1234;
const std::string x = with_crc(std::string(16, 'x'), shared_crc);
const std::string y = with_crc(std::string(16, 'y'), shared_crc);
const std::string z = with_crc(std::string(16, 'z'), shared_crc);

constexpr RomStatus U = RomStatus::Unique;
constexpr RomStatus D = RomStatus::Duplicate;

}  // namespace

TEST(Ordering, SortsByUnsignedCrcThenByUnsignedName) {
  const std::vector<Image> images = {
      {"last", with_crc("last....", 0xFFFFFFFF)},
      {"high", with_crc("high....", 0x80000000)},
      {"low", with_crc("low.....", 0x7FFFFFFF)},
      {"b", with_crc("b.......", 0x00000001)},
      {"a\xE9", with_crc("ae9.....", 0x00000001)},
      {"az", with_crc("az......", 0x00000001)},
      {"a", with_crc("a.......", 0x00000001)},
      {"zero", with_crc("zero....", 0x00000000)},
      // Ties on CRC and name keep the order they were admitted in.
      {"tie", with_crc("tie.....", 0x00000002)},
      {"tie", with_crc("tie.............", 0x00000002)},
      {"tie", with_crc("tie.........", 0x00000002)},
  };
  const Marked marked = sort_and_mark(images);
  const std::vector<std::string> want = {"zero", "a", "az", "a\xE9", "b", "tie", "tie", "tie", "low", "high", "last"};
  EXPECT_EQ(marked.names, want);
  EXPECT_EQ(std::vector<uint64_t>(marked.sizes.begin() + 5, marked.sizes.begin() + 8),
            (std::vector<uint64_t>{8, 16, 12}));
}

TEST(Ordering, EmptyCatalogueGivesAnEmptyIndexAndNoOutput) {
  Catalogue catalogue;
  build_sorted_index(catalogue);
  EXPECT_TRUE(catalogue.sorted.empty());
  EXPECT_EQ(capture_stdout([&] { mark_duplicates(catalogue, print_collision); }), "");
}

TEST(MarkDuplicates, StatusesAndCollisionReports) {
  const std::string big(16384, 'q');
  const std::string small = with_crc(std::string(8192, 's'), crc32_of(big));
  const std::string nonempty_crc0 = with_crc("abcdefgh", 0);
  struct Case {
    const char* label;
    std::vector<Image> images;
    std::vector<RomStatus> want_statuses;
    std::string want_reports;
  };
  const Case cases[] = {
      {"one record", {{"a", x}}, {U}, ""},
      {"identical under two names", {{"b", x}, {"a", x}}, {U, D}, ""},
      {"one name twice", {{"a", x}, {"a", x}}, {U, D}, ""},
      {"X Y X", {{"c", x}, {"b", y}, {"a", x}}, {U, U, U}, report("a", "b") + report("b", "c")},
      {"X X Y", {{"a", x}, {"b", x}, {"c", y}}, {U, D, U}, report("a", "c") + report("b", "c")},
      {"X Y Y", {{"a", x}, {"b", y}, {"c", y}}, {U, U, U}, report("a", "b") + report("a", "c")},
      {"X Y X Y",
       {{"a", x}, {"b", y}, {"c", x}, {"d", y}},
       {U, U, U, U},
       report("a", "b") + report("b", "c") + report("a", "d") + report("c", "d")},
      {"another size splits the group", {{"a", big}, {"b", small}, {"c", big}}, {U, U, U}, ""},
      {"zero-byte images", {{"e3", ""}, {"e1", ""}, {"e2", ""}}, {U, D, D}, ""},
      {"a CRC-0 image between zero-byte ones", {{"e1", ""}, {"e2", nonempty_crc0}, {"e3", ""}}, {U, U, U}, ""},
      {"names raw in reports", {{"caf\xE9", x}, {"d\x80\xFF", y}}, {U, U}, report("caf\xE9", "d\x80\xFF")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Marked marked = sort_and_mark(c.images);
    EXPECT_EQ(marked.statuses, c.want_statuses);
    EXPECT_EQ(marked.reports, c.want_reports);
  }
}

// The pass keeps distinct contents and runs of them instead of comparing
// every pair; check it against the pairwise rule on every sequence of up to
// five records over three contents of one CRC and size.
TEST(MarkDuplicates, AgreesWithPairwiseComparisonOnEverySmallGroup) {
  const std::string contents[] = {x, y, z};
  for (int length = 1; length <= 5; ++length) {
    int sequences = 1;
    for (int i = 0; i < length; ++i) sequences *= 3;
    for (int code = 0; code < sequences; ++code) {
      std::vector<int> variant(length);
      std::vector<Image> images;
      for (int i = 0, rest = code; i < length; ++i, rest /= 3) {
        variant[i] = rest % 3;
        images.push_back({std::string{'r', static_cast<char>('0' + i)}, contents[variant[i]]});
      }
      std::vector<RomStatus> want_statuses(length, U);
      std::string want_reports;
      for (int i = 1; i < length; ++i) {
        want_statuses[i] = D;
        for (int j = 0; j < i; ++j) {
          if (variant[j] == variant[i]) continue;
          want_reports += report(images[j].name, images[i].name);
          want_statuses[i] = U;
        }
      }
      SCOPED_TRACE(testing::Message() << "length " << length << " code " << code);
      const Marked marked = sort_and_mark(images);
      ASSERT_EQ(marked.statuses, want_statuses);
      ASSERT_EQ(marked.reports, want_reports);
    }
  }
}

// A big group of copies must not cost a comparison for every pair.
TEST(MarkDuplicates, HandlesAHundredThousandCopiesOfOneImage) {
  const std::string image(64, 'c');
  std::vector<Image> images;
  for (int i = 0; i < 100000; ++i) images.push_back({"copy" + std::to_string(i), image});
  const Marked marked = sort_and_mark(images);
  ASSERT_EQ(marked.statuses.size(), images.size());
  EXPECT_EQ(marked.names.front(), "copy0");
  EXPECT_EQ(marked.statuses.front(), U);
  EXPECT_EQ(std::count(marked.statuses.begin(), marked.statuses.end(), D), 99999);
  EXPECT_EQ(marked.reports, "");
}
