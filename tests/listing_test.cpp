// The listing and summary, end to end: files built in a temporary tree, the
// built imgchk run on them, its output compared byte for byte.
#include "report/listing.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "catalogue/ordering.h"
#include "catalogue/rom_entry.h"
#include "catalogue/run_mode.h"
#include "support/capture_stdout.h"
#include "support/run_imgchk.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"
#include "support/zip_builder.h"

namespace {

using Files = std::vector<std::pair<std::string, std::string>>;  // name, bytes

struct GoldenCase {
  const char* label;
  Files files;
  std::vector<std::string> args;
  std::string want_out;
};

void expect_listing(const GoldenCase& c) {
  SCOPED_TRACE(c.label);
  TempDir tree;
  for (const auto& [name, bytes] : c.files) tree.write(name, bytes);
  const RunResult run = run_imgchk(c.args, tree.path);
  EXPECT_EQ(run.out, c.want_out);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
}

std::string filled(size_t size, char value) {
  return std::string(size, value);
}

// Every byte holds the number of its 2 KiB block.
std::string block_numbers(size_t size) {
  std::string bytes(size, '\0');
  for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>(k / 0x800);
  return bytes;
}

// The columns of images too big or too patched to spell out in the test.
std::string sum_column(const std::string& bytes) {
  unsigned sum = 0;
  for (const char byte : bytes) sum += static_cast<unsigned char>(byte);
  char column[8];
  std::snprintf(column, sizeof column, "%04X", sum & 0xFFFFu);
  return column;
}

std::string crc_column(const std::string& bytes) {
  char column[12];
  std::snprintf(column, sizeof column, "%08X", crc32_of(bytes));
  return column;
}

const char all_empty_summary[] = "\n0 ROMs, 0 unique, 0 duplicates, 0 unchecked\n";

}  // namespace

TEST(Listing, WorkedExamplesOfEachMode) {
  const GoldenCase cases[] = {
      {"All",
       {{"empty.bin", ""}, {"x/a.bin", "abc"}, {"y/a.bin", "abc"}, {"caf\xE9.rom", "\x01\x02"}},
       {"empty.bin", "x", "y", "caf\xE9.rom"},
       "\n"
       "  00000000 0000      0 empty.bin\n"
       "\n"
       "  352441C2 0126      3 x/a.bin\n"
       "D 352441C2 0126      3 y/a.bin\n"
       "\n"
       "  B6CC4292 0003      2 caf%E9.rom\n"
       "\n"
       "4 ROMs, 3 unique, 1 duplicates, 0 unchecked\n"},
      {"M1",
       {{"b.rom", block_numbers(0x4000)},
        {"roms.zip", build_zip(zip_of({deflated_entry("a.bin", block_numbers(0x3000)),
                                       stored_entry("other.bin", filled(0x3001, 'o'))}))},
        {"empty.bin", ""}},
       {"-m1", "b.rom", "roms.zip", "empty.bin"},
       "\n"
       "  0F89E483 E000   4000 3000 4800 3000 3800 b.rom\n"
       "\n"
       "  AA620FB1 7800   3000 0800 2800 4800      roms.zip?a.bin\n"
       "\n"
       "2 ROMs, 2 unique, 0 duplicates, 0 unchecked, 2 skipped\n"
       "\n"},
      {"M2",
       {{"m2.bin", filled(0x800, '\xFF')}},
       {"-m2", "m2.bin"},
       "\n"
       "  3F55D17F F800    800 1180 m2.bin\n"
       "\n"
       "1 ROMs, 1 unique, 0 duplicates, 0 unchecked, 0 skipped\n"
       "\n"},
  };
  for (const GoldenCase& c : cases) expect_listing(c);
}

TEST(Listing, EmptyCatalogueInEachMode) {
  const Files one_small_file = {{"small.bin", "abc"}};
  const GoldenCase cases[] = {
      {"All, empty directory", {}, {"."}, all_empty_summary},
      {"M1, one skipped", one_small_file, {"-m1", "."}, "\n0 ROMs, 0 unique, 0 duplicates, 0 unchecked, 1 skipped\n\n"},
      {"M2, nothing at all", {}, {"-m2", "."}, "\n0 ROMs, 0 unique, 0 duplicates, 0 unchecked, 0 skipped\n\n"},
      {"Pzc prints no listing", one_small_file, {"-pzc", "."}, ""},
  };
  for (const GoldenCase& c : cases) expect_listing(c);
}

TEST(Listing, GroupsMarksSizesAndNames) {
  const GoldenCase cases[] = {
      {"zero-byte images form one group; the words stay plural",
       {{"z2", ""}, {"z1", ""}, {"z3", ""}},
       {"z3", "z1", "z2"},
       "\n"
       "  00000000 0000      0 z1\n"
       "D 00000000 0000      0 z2\n"
       "D 00000000 0000      0 z3\n"
       "\n"
       "3 ROMs, 1 unique, 2 duplicates, 0 unchecked\n"},
      {"one image",
       {{"one", "abc"}},
       {"one"},
       "\n  352441C2 0126      3 one\n\n1 ROMs, 1 unique, 0 duplicates, 0 unchecked\n"},
      {"high bytes, 7F and control bytes escaped, percent not",
       {{"a\x7F\t%\x80\xFF", "abc"}, {"b\x01\x1F\n\x20~", "abc"}},
       {"a\x7F\t%\x80\xFF", "b\x01\x1F\n\x20~"},
       "\n  352441C2 0126      3 a%7F%09%%80%FF\n"
       "D 352441C2 0126      3 b%01%1F%0A ~\n"
       "\n2 ROMs, 1 unique, 1 duplicates, 0 unchecked\n"},
      {"16 MiB shows seven digits",
       {{"big", filled(0x1000000, '\0')}},
       {"big"},
       "\n  " + crc_column(filled(0x1000000, '\0')) +
           " 0000 1000000 big\n\n1 ROMs, 1 unique, 0 duplicates, 0 unchecked\n"},
  };
  for (const GoldenCase& c : cases) expect_listing(c);
}

TEST(Listing, OrdersCrcsAsUnsigned) {
  const std::string zero = with_crc("zero....", 0x00000000);
  const std::string low = with_crc("low.....", 0x7FFFFFFF);
  const std::string high = with_crc("high....", 0x80000000);
  const std::string last = with_crc("last....", 0xFFFFFFFF);
  expect_listing({"across the sign bit",
                  {{"a", last}, {"b", high}, {"c", low}, {"d", zero}},
                  {"a", "b", "c", "d"},
                  "\n  00000000 " + sum_column(zero) + "      8 d\n" +  //
                      "\n  7FFFFFFF " + sum_column(low) + "      8 c\n" + "\n  80000000 " + sum_column(high) +
                      "      8 b\n" + "\n  FFFFFFFF " + sum_column(last) + "      8 a\n" +
                      "\n4 ROMs, 4 unique, 0 duplicates, 0 unchecked\n"});
}

// Collision reports come first, with only control bytes escaped; the
// listing escapes high bytes too.
TEST(Listing, CollisionsAndSplitGroups) {
  const uint32_t crc = 0x5EED1234;
  const std::string x = with_crc(filled(16, 'x'), crc);
  const std::string y = with_crc(filled(16, 'y'), crc);
  const std::string line_x = "  5EED1234 " + sum_column(x) + "     10 ";
  const std::string line_y = "  5EED1234 " + sum_column(y) + "     10 ";
  const std::string big = filled(0x4000, 'b');
  const std::string small = with_crc(filled(0x2000, 's'), crc32_of(big));
  const std::string big_crc = crc_column(big);
  const GoldenCase cases[] = {
      {"X Y X, names with high bytes",
       {{"\xE9"
         "1",
         x},
        {"\xE9"
         "2",
         y},
        {"\xE9"
         "3",
         x}},
       {"\xE9"
        "1",
        "\xE9"
        "2",
        "\xE9"
        "3"},
       "CRC collision!\n\t\xE9"
       "1\n\t\xE9"
       "2\n"
       "CRC collision!\n\t\xE9"
       "2\n\t\xE9"
       "3\n"
       "\n" +
           line_x + "%E91\n" + "\n" + line_y + "%E92\n" + "\n" + line_x + "%E93\n" +
           "\n3 ROMs, 3 unique, 0 duplicates, 0 unchecked\n"},
      {"control bytes escaped in the report, high bytes not",
       {{"tab\tx", x}, {"nl\ny\xE9", y}},
       {"tab\tx", "nl\ny\xE9"},
       "CRC collision!\n\tnl%0Ay\xE9\n\ttab%09x\n"
       "\n" +
           line_y + "nl%0Ay%E9\n" + "\n" + line_x + "tab%09x\n" + "\n2 ROMs, 2 unique, 0 duplicates, 0 unchecked\n"},
      {"X X Y",
       {{"a", x}, {"b", x}, {"c", y}},
       {"a", "b", "c"},
       "CRC collision!\n\ta\n\tc\n"
       "CRC collision!\n\tb\n\tc\n"
       "\n" +
           line_x + "a\n" + "D" + line_x.substr(1) + "b\n" + "\n" + line_y + "c\n" +
           "\n3 ROMs, 2 unique, 1 duplicates, 0 unchecked\n"},
      {"another size between two copies splits them",
       {{"a", big}, {"b", small}, {"c", big}},
       {"a", "b", "c"},
       "\n  " + big_crc + " " + sum_column(big) + "   4000 a\n" + "\n  " + big_crc + " " + sum_column(small) +
           "   2000 b\n" + "\n  " + big_crc + " " + sum_column(big) + "   4000 c\n" +
           "\n3 ROMs, 3 unique, 0 duplicates, 0 unchecked\n"},
  };
  for (const GoldenCase& c : cases) expect_listing(c);
}

// Not reachable through a run, where every record gets a status first.
TEST(PrintReport, UncheckedRecordHasNoBreakNoMarkAndIsCounted) {
  Catalogue catalogue;
  add_rom(catalogue, SumPlan{}, "raw", 3, reinterpret_cast<const uint8_t*>("abc"));
  build_sorted_index(catalogue);
  const std::string out = capture_stdout([&] { print_report(catalogue, RunMode::All); });
  EXPECT_EQ(out, "  352441C2 0126      3 raw\n\n1 ROMs, 0 unique, 0 duplicates, 1 unchecked\n");
}
