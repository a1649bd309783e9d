// Archives end to end: entries and nested archives catalogued under their
// display names, what is reported, comments in -pzc, the nesting bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "support/packed_zeros.h"
#include "support/rar_builder.h"
#include "support/run_imgchk.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"
#include "support/zip_builder.h"
#include "zip/zip_methods.h"

namespace {

struct Expected {
  std::string out;
  std::string err;
};

// The output is the same whatever the number of threads and whichever job
// finishes first: one thread, eight, and eight taking jobs newest first or
// at random; also when threads fail to start.
void expect_run(const TempDir& tree, const std::vector<std::string>& args, const Expected& want) {
  struct Variant {
    const char* label;
    const char* program;
    const char* workers;
    std::vector<std::string> environment;
  };
  const Variant variants[] = {
      {"default", imgchk_path(), nullptr, {}},
      {"-j1", imgchk_path(), "-j1", {}},
      {"-j8", imgchk_path(), "-j8", {}},
      {"-j8 reverse", imgchk_test_hooks_path(), "-j8", {"IMGCHK_TEST_JOB_ORDER=reverse"}},
      {"-j3 random", imgchk_test_hooks_path(), "-j3", {"IMGCHK_TEST_JOB_ORDER=random:7"}},
      {"-j4, no thread starts", imgchk_test_hooks_path(), "-j4", {"IMGCHK_TEST_WORKER_STARTS=0"}},
      {"-j4, one thread starts", imgchk_test_hooks_path(), "-j4", {"IMGCHK_TEST_WORKER_STARTS=1"}},
  };
  for (const Variant& variant : variants) {
    SCOPED_TRACE(variant.label);
    std::vector<std::string> with_workers = args;
    if (variant.workers != nullptr) with_workers.insert(with_workers.begin(), variant.workers);
    const RunResult result = run_program(variant.program, with_workers, tree.path, "", variant.environment);
    EXPECT_EQ(result.out, want.out);
    EXPECT_EQ(result.err, want.err);
    EXPECT_EQ(result.status, 0);
  }
}

std::string archive_with_comment(std::vector<ZipEntryPlan> entries, std::string comment) {
  ZipPlan plan = zip_of(std::move(entries));
  plan.comment = std::move(comment);
  return build_zip(plan);
}

// An entry whose records lie: its stat fails (a zip64 extra block too short
// for the fields it must hold).
ZipEntryPlan entry_with_bad_zip64_extra(std::string name) {
  ZipEntryPlan entry = stored_entry(std::move(name), "xyz");
  entry.zip64 = true;
  entry.zip64_extra_size = 0;
  return entry;
}

// An archive whose entries follow `padding` zero bytes (a stub, as in a
// self-extractor): unpacking it costs much, summarising its entries little.
std::string padded_archive(uint64_t padding, std::vector<ZipEntryPlan> entries, std::string comment = "") {
  ZipPlan plan = zip_of(std::move(entries));
  plan.prefix = std::string(padding, '\0');
  plan.comment = std::move(comment);
  return build_zip(plan);
}

constexpr uint64_t mebibyte = uint64_t{1} << 20;

// "m3.zip" and the like, built with += (g++ 12 warns falsely on "m" + ...).
std::string numbered(const char* prefix, int number, const char* suffix) {
  std::string name = prefix;
  name += std::to_string(number);
  name += suffix;
  return name;
}

bool has_tools(const std::string& names) {
  return run_program("sh", {"-c", "for t in " + names + "; do command -v $t >/dev/null || exit 1; done"}).status == 0;
}

void run_in(const TempDir& dir, const std::string& command) {
  const RunResult result = run_program("sh", {"-c", command}, dir.path);
  ASSERT_EQ(result.status, 0) << command << "\n" << result.err;
}

// The listing of images whose contents all differ, from their names and
// bytes: in CRC order, each its own group.
std::string listing_of(std::vector<std::pair<std::string, std::string>> images) {
  std::sort(images.begin(), images.end(), [](const auto& a, const auto& b) {
    return std::pair(crc32_of(a.second), a.first) < std::pair(crc32_of(b.second), b.first);
  });
  std::string out;
  for (const auto& [name, bytes] : images) {
    unsigned sum = 0;
    for (const char c : bytes) sum += static_cast<uint8_t>(c);
    char line[64];
    std::snprintf(line, sizeof line, "\n  %08X %04X %6zX ", unsigned{crc32_of(bytes)}, sum & 0xFFFF, bytes.size());
    out += line + name + "\n";
  }
  const std::string count = std::to_string(images.size());
  return out + "\n" + count + " ROMs, " + count + " unique, 0 duplicates, 0 unchecked\n";
}

// Compressible lines: a damaged byte derails the decoder, not just itself.
std::string numbered_lines(int lines, int seed) {
  std::string text;
  for (int k = 0; k < lines; ++k)
    text += "line " + std::to_string((k * 7 + seed) % 13) + " of set " + std::to_string(seed) + "\n";
  return text;
}

}  // namespace

TEST(ArchiveWalk, CataloguesEntriesAndNestedArchivesUnderJoinedNames) {
  TempDir tree;
  ZipEntryPlan folder_by_name = stored_entry("sub/", "");
  ZipEntryPlan folder_by_attribute = stored_entry("flagged", "");
  folder_by_attribute.external_attributes = 0x10;
  const std::string inner = build_zip(zip_of({deflated_entry("c.bin", "abc")}));
  tree.write("roms/set.zip",
             build_zip(zip_of({stored_entry("a.bin", "abc"), folder_by_name, deflated_entry("sub/b.bin", "123456789"),
                               folder_by_attribute, stored_entry("INNER.ZIP", inner), stored_entry("empty.rom", "")})));
  expect_run(tree, {"roms"},
             {"\n"
              "  00000000 0000      0 roms/set.zip?empty.rom\n"
              "\n"
              "  352441C2 0126      3 roms/set.zip?INNER.ZIP?c.bin\n"
              "D 352441C2 0126      3 roms/set.zip?a.bin\n"
              "\n"
              "  CBF43926 01DD      9 roms/set.zip?sub/b.bin\n"
              "\n"
              "4 ROMs, 3 unique, 1 duplicates, 0 unchecked\n",
              ""});
}

TEST(ArchiveWalk, ReportsBadEntriesAndGoesOnWithTheNext) {
  TempDir tree;
  ZipEntryPlan encrypted = stored_entry("secret.bin", "hidden");
  encrypted.flags = 0x0001;
  ZipEntryPlan bzip2 = stored_entry("packed.bin", "BZh91AY&SY");
  bzip2.method = 12;
  ZipEntryPlan bad_crc = deflated_entry("rotten.bin", "abc");
  bad_crc.crc32 = 0x12345678;
  tree.write("mixed.zip",
             build_zip(zip_of({stored_entry("first.bin", "abc"), encrypted, stored_entry("broken.zip", "not a zip"),
                               entry_with_bad_zip64_extra("stat.bin"), bzip2, stored_entry("empty.zip", ""), bad_crc,
                               stored_entry("last.bin", "123456789")})));
  expect_run(tree, {"mixed.zip"},
             {"\n"
              "  352441C2 0126      3 mixed.zip?first.bin\n"
              "\n"
              "  CBF43926 01DD      9 mixed.zip?last.bin\n"
              "\n"
              "2 ROMs, 2 unique, 0 duplicates, 0 unchecked\n",
              "imgchk: uncompress of mixed.zip?secret.bin failed\n"
              "imgchk: error opening mixed.zip?broken.zip\n"
              "imgchk: file stat 3 of mixed.zip failed\n"
              "imgchk: uncompress of mixed.zip?packed.bin failed\n"
              "imgchk: error opening mixed.zip?empty.zip\n"
              "imgchk: uncompress of mixed.zip?rotten.bin failed\n"});
}

// gzip files as gzip -d reads them: members joined, zero padding passed
// over, anything else after the last member or a member that fails its own
// trailer failing the image. A RAR 5 archive without its end block, or a
// RAR 4 archive that ends inside a block, was cut short: the entry expected
// next fails to stat and what was read stays listed, also inside a zip. A
// RAR 4 archive may end after a whole block (RAR 2 wrote no end block).
TEST(ArchiveWalk, ReadsGzipMembersAndReportsRarArchivesCutShort) {
  TempDir tree;
  const std::string abc = gzip_member("abc");
  std::string lying = abc;
  lying[lying.size() - 5] ^= 1;  // the CRC-32; the right trailer follows
  tree.write("1-multi.bin.gz", gzip_member("1234") + gzip_member("") + gzip_member("56789"));
  tree.write("2-padded.bin.gz", abc + std::string(1000, '\0'));
  tree.write("3-junk.bin.gz", abc + "junk");
  tree.write("4-lies.bin.gz", lying + abc.substr(abc.size() - 8));
  const RarFiles files = {{"a.bin", "abc"}, {"b.bin", "123456789"}};
  const std::string rar5 = rar5_stored(files);
  const std::string rar4 = rar4_stored(files);
  const size_t rar5_after_a = rar5.find("abc") + 3;
  const size_t rar4_after_a = rar4.find("abc") + 3;
  tree.write("5-cut.rar", rar5.substr(0, rar5_after_a));
  tree.write("6-cut.rar", rar5.substr(0, rar5.size() - 8));  // the end block
  tree.write("7-cut.rar", rar4.substr(0, rar4_after_a + 3));
  tree.write("8-whole.rar", rar4.substr(0, rar4.size() - 7));
  tree.write("9-set.zip", build_zip(zip_of({stored_entry("cut.rar", rar5.substr(0, rar5_after_a))})));
  const std::vector<std::string> paths = {"1-multi.bin.gz", "2-padded.bin.gz", "3-junk.bin.gz",
                                          "4-lies.bin.gz",  "5-cut.rar",       "6-cut.rar",
                                          "7-cut.rar",      "8-whole.rar",     "9-set.zip"};
  expect_run(tree, paths,
             {"\n"
              "  352441C2 0126      3 2-padded.bin.gz?2-padded.bin\n"
              "D 352441C2 0126      3 5-cut.rar?a.bin\n"
              "D 352441C2 0126      3 6-cut.rar?a.bin\n"
              "D 352441C2 0126      3 7-cut.rar?a.bin\n"
              "D 352441C2 0126      3 8-whole.rar?a.bin\n"
              "D 352441C2 0126      3 9-set.zip?cut.rar?a.bin\n"
              "\n"
              "  CBF43926 01DD      9 1-multi.bin.gz?1-multi.bin\n"
              "D CBF43926 01DD      9 6-cut.rar?b.bin\n"
              "D CBF43926 01DD      9 8-whole.rar?b.bin\n"
              "\n"
              "9 ROMs, 2 unique, 7 duplicates, 0 unchecked\n",
              "imgchk: uncompress of 3-junk.bin.gz?3-junk.bin failed\n"
              "imgchk: uncompress of 4-lies.bin.gz?4-lies.bin failed\n"
              "imgchk: file stat 1 of 5-cut.rar failed\n"
              "imgchk: file stat 2 of 6-cut.rar failed\n"
              "imgchk: file stat 1 of 7-cut.rar failed\n"
              "imgchk: file stat 1 of 9-set.zip?cut.rar failed\n"});
}

// An entry may claim up to 1,032 times its compressed size. Claims of 1 GiB
// that the data do not bear out fail only their own entry, also where the
// run cannot have that much memory (a nested archive is held whole) and in
// every mode.
TEST(ArchiveWalk, ClaimsPastTheMemoryFailOnlyTheirEntry) {
  TempDir tree;
  auto claiming_a_gibibyte = [](std::string name) {
    ZipEntryPlan entry = deflated_entry(std::move(name), random_bytes(1 << 20, 7));
    entry.uncompressed_size = 1ull << 30;
    return entry;
  };
  tree.write("set.zip", build_zip(zip_of({stored_entry("a.bin", "abc"), claiming_a_gibibyte("huge.bin"),
                                          claiming_a_gibibyte("huge.zip"), stored_entry("z.bin", "123456789")})));
  const std::string err =
      "imgchk: uncompress of set.zip?huge.bin failed\n"
      "imgchk: uncompress of set.zip?huge.zip failed\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
  };
  const Case cases[] = {
      {{"set.zip"},
       "\n  352441C2 0126      3 set.zip?a.bin\n\n  CBF43926 01DD      9 set.zip?z.bin\n"
       "\n2 ROMs, 2 unique, 0 duplicates, 0 unchecked\n"},
      {{"-m1", "set.zip"}, "\n0 ROMs, 0 unique, 0 duplicates, 0 unchecked, 2 skipped\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
#if IMGCHK_SANITIZED
    const RunResult result = run_imgchk(c.args, tree.path);
#else
    const RunResult result = run_imgchk_limited(c.args, tree.path, 256ull << 20);
#endif
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.status, 0);
  }
}

// No tool here writes Zstandard into zip archives: the entries carry
// libzstd's frames. A damaged frame and a wrong CRC fail only their entries.
TEST(ArchiveWalk, ReadsZstandardEntriesAndFailsOnlyTheBadOnes) {
  TempDir tree;
  auto zstd_entry = [](std::string name, const std::string& content) {
    ZipEntryPlan entry = stored_entry(std::move(name), content);
    entry.method = 93;
    entry.data = zstd_frame(content);
    return entry;
  };
  ZipEntryPlan damaged = zstd_entry("damaged.bin", text_bytes(5000));
  (*damaged.data)[damaged.data->size() / 2] ^= 0x55;
  ZipEntryPlan wrong_crc = zstd_entry("wrong-crc.bin", "abc");
  wrong_crc.crc32 = 0x12345678;
  tree.write("z.zip",
             build_zip(zip_of({zstd_entry("a.bin", "abc"), damaged, wrong_crc,
                               zstd_entry("nested.zip", build_zip(zip_of({zstd_entry("b.bin", "123456789")})))})));
  expect_run(tree, {"z.zip"},
             {"\n"
              "  352441C2 0126      3 z.zip?a.bin\n"
              "\n"
              "  CBF43926 01DD      9 z.zip?nested.zip?b.bin\n"
              "\n"
              "2 ROMs, 2 unique, 0 duplicates, 0 unchecked\n",
              "imgchk: uncompress of z.zip?damaged.bin failed\n"
              "imgchk: uncompress of z.zip?wrong-crc.bin failed\n"});
}

TEST(ArchiveWalk, PzcListsCommentsOfEveryArchiveAndUnpacksOnlyArchives) {
  TempDir tree;
  ZipEntryPlan rotten = stored_entry("rotten.bin", "abc");
  rotten.crc32 = 0;  // would fail if it were unpacked
  const std::string deep = archive_with_comment({stored_entry("d.bin", "d")}, "Deep");
  const std::string inner = archive_with_comment({stored_entry("deep.zip", deep)}, std::string("\0hidden", 7));
  const std::string long_comment = archive_with_comment({}, std::string(600, 'c'));
  const std::string silent = build_zip(zip_of({stored_entry("s.bin", "s")}));
  tree.write("set/outer.zip",
             archive_with_comment({rotten, stored_entry("inner.zip", inner), stored_entry("long.zip", long_comment),
                                   stored_entry("silent.zip", silent), stored_entry("bad.zip", "junk"),
                                   entry_with_bad_zip64_extra("stat.zip")},
                                  "Outer\tcomment"));
  tree.write("set/loose.bin", "abc");
  // A comment whose stated length runs past the end of the file is what is there.
  ZipPlan cut_comment = zip_of({stored_entry("c.bin", "c")});
  cut_comment.comment = "Cut short";
  cut_comment.comment_size = 200;
  tree.write("cut.zip", build_zip(cut_comment));
  const std::string messages =
      "imgchk: error opening set/outer.zip?bad.zip\n"
      "imgchk: file stat 5 of set/outer.zip failed\n";
  expect_run(tree, {"-pzc", "set", "missing", "missing.zip", "cut.zip"},
             {"set/outer.zip: Outer\tcomment\n"
              "set/outer.zip?inner.zip: \n"
              "set/outer.zip?inner.zip?deep.zip: Deep\n"
              "set/outer.zip?long.zip: " +
                  std::string(511, 'c') +
                  "\n"
                  "cut.zip: Cut short\n",
              messages + "imgchk: error opening missing.zip\n"});
  // Comments belong to -pzc alone.
  expect_run(tree, {"set/outer.zip"},
             {"\n"
              "  1B0ECF0B 0073      1 set/outer.zip?silent.zip?s.bin\n"
              "\n"
              "  98DD4ACC 0064      1 set/outer.zip?inner.zip?deep.zip?d.bin\n"
              "\n"
              "2 ROMs, 2 unique, 0 duplicates, 0 unchecked\n",
              "imgchk: uncompress of set/outer.zip?rotten.bin failed\n" + messages});
}

TEST(ArchiveWalk, OpensArchivesSixteenLevelsDeepAndNoDeeper) {
  // level1.zip holds f1.bin and level2.zip, and so on down to level 20.
  std::string archive;
  for (int level = 20; level >= 1; --level) {
    std::vector<ZipEntryPlan> entries;
    std::string image = "image of level ";
    image += std::to_string(level);
    std::string image_name = "f";
    image_name += std::to_string(level);
    image_name += ".bin";
    entries.push_back(stored_entry(image_name, image));
    if (!archive.empty()) {
      std::string nested_name = "level";
      nested_name += std::to_string(level + 1);
      nested_name += ".zip";
      entries.push_back(stored_entry(nested_name, archive));
    }
    std::string comment = "L";
    comment += std::to_string(level);
    archive = archive_with_comment(std::move(entries), comment);
  }
  TempDir tree;
  tree.write("level1.zip", archive);

  std::string too_deep = "level1.zip";
  std::string comments;
  for (int level = 2; level <= 17; ++level) {
    comments += too_deep + ": L" + std::to_string(level - 1) + "\n";
    too_deep += "?level";
    too_deep += std::to_string(level);
    too_deep += ".zip";
  }
  const std::string message = "imgchk: nesting too deep at " + too_deep + "\n";

  const RunResult listed = run_imgchk({"level1.zip"}, tree.path);
  EXPECT_EQ(listed.err, message);
  EXPECT_NE(listed.out.find("\n16 ROMs, 16 unique, 0 duplicates, 0 unchecked\n"), std::string::npos) << listed.out;
  EXPECT_NE(listed.out.find("?level16.zip?f16.bin\n"), std::string::npos);
  EXPECT_EQ(listed.out.find("f17.bin"), std::string::npos);
  expect_run(tree, {"-pzc", "level1.zip"}, {comments, message});
}

// Bytes cut from the front of an archive after its offsets were written: the
// entries that remain are read, the one whose local header went fails alone.
TEST(ArchiveWalk, ListsWhatRemainsOfAnArchiveWithItsFrontCut) {
  TempDir tree;
  const ZipLayout layout = build_zip_layout(zip_of({stored_entry("gone.bin", "abc"), stored_entry("kept.bin", "abc")}));
  tree.write("cut.zip", layout.bytes.substr(layout.local_header_offsets[1]));
  expect_run(tree, {"cut.zip"},
             {"\n"
              "  352441C2 0126      3 cut.zip?kept.bin\n"
              "\n"
              "1 ROMs, 1 unique, 0 duplicates, 0 unchecked\n",
              "imgchk: uncompress of cut.zip?gone.bin failed\n"});
}

// At most 1,032 times the file's size plus 64 MiB is unpacked from an
// archive file, nesting included. The entries that pass the limit are the
// same for any size of these files in the bounds checked below, whatever
// deflate made of them. The walk of each file ends with one message; what
// came before stays and the next path is read.
TEST(ArchiveWalk, StopsAnArchiveFileAtItsExpansionLimit) {
  TempDir tree;
  // A fan-out: 8 copies of an archive holding 2 archives of 32 MiB each.
  const std::string leaf = padded_archive(32 * mebibyte, {stored_entry("x.bin", "abc")});
  const std::string fanned = build_zip(zip_of({deflated_entry("l0.zip", leaf), deflated_entry("l1.zip", leaf)}));
  std::vector<ZipEntryPlan> copies{stored_entry("a.bin", "a")};
  for (int k = 0; k < 8; ++k) copies.push_back(deflated_entry(numbered("m", k, ".zip"), fanned));
  const std::string fan_out = build_zip(zip_of(copies));
  // A chain of 7 levels, each with an image and a comment; levels 2, 4 and 6
  // are archives of 48 MiB.
  std::string chain;
  for (int level = 7; level >= 1; --level) {
    std::vector<ZipEntryPlan> entries{stored_entry(numbered("f", level, ".bin"), numbered("image ", level, ""))};
    if (!chain.empty()) entries.push_back(deflated_entry(numbered("level", level + 1, ".zip"), chain));
    chain = padded_archive(level % 2 == 0 ? 48 * mebibyte : 0, std::move(entries), numbered("L", level, ""));
  }
  ASSERT_LT(fan_out.size(), 16384u);
  // Each KiB of the file adds about 1 MiB to its limit.
  ASSERT_LT(fan_out.size(), 31u << 10);  // the limit is below 96 MiB
  ASSERT_GT(chain.size(), 33u << 10);    // the limit is between 97 MiB
  ASSERT_LT(chain.size(), 78u << 10);    // and 142 MiB
  tree.write("fan.zip", fan_out);
  tree.write("chain.zip", chain);
  tree.write("after.bin", "abc");

  const std::string err =
      "imgchk: expansion limit reached at fan.zip?m1.zip?l0.zip\n"
      "imgchk: expansion limit reached at chain.zip?level2.zip?level3.zip?level4.zip?level5.zip?level6.zip\n";
  const RunResult listed = run_imgchk({"fan.zip", "chain.zip", "after.bin"}, tree.path);
  EXPECT_EQ(listed.err, err);
  for (const char* kept : {"  E8B7BE43 0061      1 fan.zip?a.bin\n", " 0126      3 fan.zip?m0.zip?l1.zip?x.bin\n",
                           " chain.zip?level2.zip?level3.zip?level4.zip?level5.zip?f5.bin\n",
                           " 0126      3 after.bin\n", "\n9 ROMs, 7 unique, 2 duplicates, 0 unchecked\n"}) {
    EXPECT_NE(listed.out.find(kept), std::string::npos) << kept << listed.out;
  }
  // -pzc unpacks nested archives too, within the same limit.
  const RunResult comments = run_imgchk({"-pzc", "chain.zip", "fan.zip"}, tree.path);
  EXPECT_EQ(comments.err, err.substr(err.find('\n') + 1) + err.substr(0, err.find('\n') + 1));
  EXPECT_EQ(comments.out,
            "chain.zip: L1\nchain.zip?level2.zip: L2\nchain.zip?level2.zip?level3.zip: L3\n"
            "chain.zip?level2.zip?level3.zip?level4.zip: L4\n"
            "chain.zip?level2.zip?level3.zip?level4.zip?level5.zip: L5\n");

  // 8 archives in each of 16 levels: the archives past the depth limit are
  // charged as if opened, so the limit comes after a few messages, not after
  // hundreds of thousands.
  std::string fan = build_zip(zip_of({stored_entry("x.bin", "abc")}));
  for (int level = 16; level >= 1; --level) {
    std::vector<ZipEntryPlan> level_copies;
    for (int k = 0; k < 8; ++k) level_copies.push_back(deflated_entry(numbered("a", k, ".zip"), fan));
    fan = build_zip(zip_of(level_copies));
  }
  ASSERT_LT(fan.size(), 40u << 10);
  tree.write("fan-16.zip", fan);
  const RunResult deep_fan = run_imgchk({"fan-16.zip"}, tree.path);
  std::vector<std::string> lines;
  for (size_t start = 0, end; (end = deep_fan.err.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(deep_fan.err.substr(start, end - start));
  }
  ASSERT_FALSE(lines.empty());
  EXPECT_LE(lines.size(), 100u);
  EXPECT_EQ(lines.back().rfind("imgchk: expansion limit reached at fan-16.zip?a0.zip?", 0), 0u) << lines.back();
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("imgchk: nesting too deep at fan-16.zip?a0.zip?", 0), 0u) << lines[i];
  }
}

// Blank images far past deflate's ratio, as bzip2, LZMA, XZ and Zstandard
// pack them, are read from the archive file itself; inside a nested archive
// they still meet the limit that nesting multiplies.
TEST(ArchiveWalk, ReadsLargeBlankImagesPackedPastDeflatesRatio) {
  constexpr uint64_t blank_size = uint64_t{128} << 20;
  struct Method {
    const char* archive;
    uint16_t method;
  };
  const Method methods[] = {
      {"bzip2.zip", method_bzip2}, {"lzma.zip", method_lzma}, {"xz.zip", method_xz}, {"zstd.zip", method_zstd}};
  TempDir tree;
  std::vector<std::string> args;
  std::string nested;
  for (const Method& method : methods) {
    const PackedZeros packed = packed_zeros(method.method, blank_size);
    ZipEntryPlan blank = stored_entry("blank.bin", "");
    blank.method = method.method;
    blank.flags = packed.flags;
    blank.data = packed.data;
    blank.crc32 = packed.crc32;
    blank.uncompressed_size = blank_size;
    const std::string archive = build_zip(zip_of({blank}));
    tree.write(method.archive, archive);
    args.push_back(method.archive);
    if (method.method == method_lzma) nested = build_zip(zip_of({stored_entry("inner.zip", archive)}));
  }
  tree.write("nested.zip", nested);
  args.push_back("nested.zip");

  const RunResult result = run_imgchk(args, tree.path);
  EXPECT_EQ(result.err, "imgchk: expansion limit reached at nested.zip?inner.zip?blank.bin\n");
  for (const Method& method : methods) {
    const std::string line = std::string(" 80654151 0000 8000000 ") + method.archive + "?blank.bin\n";
    EXPECT_NE(result.out.find(line), std::string::npos) << line << result.out;
  }
  EXPECT_NE(result.out.find("\n4 ROMs, 1 unique, 3 duplicates, 0 unchecked\n"), std::string::npos) << result.out;
}

// 7z, tar, gzip and RAR archives, each inside the others and inside zip
// and the other way round, under the same names, nesting and messages as
// zip: the images of every order are listed, whatever the threads.
TEST(ArchiveWalk, ReadsEveryKindOfArchiveNestedInAnyOrder) {
  if (!has_tools("7zz tar gzip zstd bzip2 xz")) GTEST_SKIP() << "archive tools missing";
  TempDir tree;
  const std::string c = "the image c\n", d = text_bytes(7000), e = "e\n";
  tree.write("src/c.bin", c);
  tree.write("src/d.bin", d);
  tree.write("src/sub/e.bin", e);
  tree.write("b.rar", rar5_stored({{"c.bin", c}}));
  tree.write("old.rar", rar4_stored({{"d.bin", d}}));
  tree.write("z.zip", build_zip(zip_of({deflated_entry("c.bin", c), stored_entry("e.bin.gz", "")})));
  run_in(tree,
         "gzip -c src/sub/e.bin > e.bin.gz && "
         "tar -czf a.tar.gz b.rar && tar --zstd -cf s.tar.zst -C src . && tar -cjf old.tbz2 old.rar && "
         "7zz a -bd -bso0 -ms=on in.7z z.zip e.bin.gz ./src/d.bin && "
         "7zz a -bd -bso0 -m0=PPMd empty.7z -x!* src && rm -r src b.rar old.rar z.zip e.bin.gz");
  tree.write("outer.zip",
             build_zip(zip_of({stored_entry("in.7z", read_file(tree.at("in.7z"))), deflated_entry("x.tar.xz", "not xz"),
                               stored_entry("old.tbz2", read_file(tree.at("old.tbz2")))})));
  // The same contents under several names (7zz stores "./src/d.bin" as
  // "d.bin"): the names and the summary are looked for, then the whole
  // output must be the same for every number of threads.
  const RunResult listed = run_imgchk({"a.tar.gz", "empty.7z", "in.7z", "outer.zip", "s.tar.zst"}, tree.path);
  for (const char* name :
       {"a.tar.gz?b.rar?c.bin", "in.7z?z.zip?c.bin", "in.7z?e.bin.gz?e.bin", "in.7z?d.bin",
        "outer.zip?in.7z?z.zip?c.bin", "outer.zip?old.tbz2?old.rar?d.bin", "s.tar.zst?./sub/e.bin"}) {
    EXPECT_NE(listed.out.find(std::string(" ") + name + "\n"), std::string::npos) << name << listed.out;
  }
  EXPECT_NE(listed.out.find("\n11 ROMs, 3 unique, 8 duplicates, 0 unchecked\n"), std::string::npos) << listed.out;
  const std::string err =
      "imgchk: error opening in.7z?z.zip?e.bin.gz\n"
      "imgchk: error opening outer.zip?in.7z?z.zip?e.bin.gz\n"
      "imgchk: error opening outer.zip?x.tar.xz\n";
  EXPECT_EQ(listed.err, err);
  expect_run(tree, {"a.tar.gz", "empty.7z", "in.7z", "outer.zip", "s.tar.zst"}, {listed.out, err});
}

// Damage in the middle of a solid block: the entries before it are listed,
// the one it falls in and each later one fail one by one, and the next
// path is read. An encrypted entry fails alone; encrypted names keep the
// archive from opening. A gzip whose trailer lies and a tar cut short fail
// their images.
TEST(ArchiveWalk, ReportsDamagedEncryptedAndCutArchivesAndGoesOn) {
  if (!has_tools("7zz tar gzip")) GTEST_SKIP() << "archive tools missing";
  TempDir tree;
  for (int k = 0; k < 6; ++k) tree.write("in/" + std::to_string(k) + ".bin", numbered_lines(3000, k));
  tree.write("after.bin", "after\n");
  run_in(tree,
         "7zz a -bd -bso0 -m0=LZMA2 -ms=on solid.7z in/0.bin in/1.bin in/2.bin in/3.bin in/4.bin in/5.bin && "
         "7zz a -bd -bso0 -ms=off -psecret -mhe=off locked.7z in/0.bin && "
         "7zz a -bd -bso0 -psecret -mhe=on names.7z in/0.bin && "
         "gzip -c in/1.bin > lies.bin.gz && tar -cf cut.tar in/2.bin in/3.bin");
  std::string solid = read_file(tree.at("solid.7z"));
  const size_t middle = 32 + (solid.size() - 32 - 150) / 2;
  solid[middle] = static_cast<char>(solid[middle] ^ 0x55);
  tree.write("solid.7z", solid);
  std::string lies = read_file(tree.at("lies.bin.gz"));
  lies[lies.size() - 1] ^= 1;  // the recorded length
  tree.write("lies.bin.gz", lies);
  const std::string cut = read_file(tree.at("cut.tar"));
  // Its header, in/2.bin's data in whole blocks, in/3.bin's header and a
  // little of its data.
  const size_t second_header = 512 + (numbered_lines(3000, 2).size() + 511) / 512 * 512;
  tree.write("cut.tar", cut.substr(0, second_header + 512 + 1000));
  const RunResult listed =
      run_imgchk({"solid.7z", "locked.7z", "names.7z", "lies.bin.gz", "cut.tar", "after.bin"}, tree.path);
  // Where the damage falls depends on 7zz's packing: find the first failure.
  const size_t first_failure = listed.err.find("imgchk: uncompress of solid.7z?in/");
  ASSERT_EQ(first_failure, 0u) << listed.err;
  const int failed_from = listed.err[first_failure + 34] - '0';
  ASSERT_GE(failed_from, 1);
  ASSERT_LE(failed_from, 4);
  std::string err;
  std::vector<std::pair<std::string, std::string>> images;
  for (int k = 0; k < 6; ++k) {
    const std::string name = "solid.7z?in/" + std::to_string(k) + ".bin";
    if (k < failed_from) images.emplace_back(name, numbered_lines(3000, k));
    if (k >= failed_from) err += "imgchk: uncompress of " + name + " failed\n";
  }
  err +=
      "imgchk: uncompress of locked.7z?in/0.bin failed\n"
      "imgchk: error opening names.7z\n"
      "imgchk: uncompress of lies.bin.gz?lies.bin failed\n";
  images.emplace_back("cut.tar?in/2.bin", numbered_lines(3000, 2));
  err += "imgchk: uncompress of cut.tar?in/3.bin failed\n";
  images.emplace_back("after.bin", "after\n");
  expect_run(tree, {"solid.7z", "locked.7z", "names.7z", "lies.bin.gz", "cut.tar", "after.bin"},
             {listing_of(images), err});
}

// -pzc prints the comments of zip archives wherever they are, inside any
// kind of archive, and reads nothing else.
TEST(ArchiveWalk, PzcFindsZipCommentsInsideEveryKindOfArchive) {
  if (!has_tools("7zz tar")) GTEST_SKIP() << "archive tools missing";
  TempDir tree;
  tree.write("z.zip", archive_with_comment({stored_entry("a.bin", "a")}, "Inside"));
  run_in(tree, "7zz a -bd -bso0 set.7z z.zip && tar -czf set.tar.gz set.7z z.zip && rm z.zip");
  expect_run(tree, {"-pzc", "set.tar.gz", "set.7z"},
             {"set.tar.gz?set.7z?z.zip: Inside\n"
              "set.tar.gz?z.zip: Inside\n"
              "set.7z?z.zip: Inside\n",
              ""});
}

// A 7z coder may ask for a dictionary of 4 GiB, which a small archive
// cannot justify. Where that memory cannot be had, its entries fail, and
// the run goes on with the next path.
TEST(ArchiveWalk, ACoderThatCannotHaveItsMemoryFailsOnlyItsEntries) {
#if IMGCHK_SANITIZED
  GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#endif
  if (!has_tools("7zz")) GTEST_SKIP() << "7zz missing";
  TempDir tree;
  tree.write("a.bin", random_bytes(20000, 4));
  tree.write("b.bin", "b\n");
  tree.write("after.bin", "after\n");
  // -mhc=off keeps the header database uncompressed, so that the LZMA2
  // dictionary byte (after the coder id 21 and its property size 01) can
  // be set to 40, 4 GiB; then both CRC-32s of the header are made anew.
  run_in(tree, "7zz a -bd -bso0 -mhc=off -m0=LZMA2 -ms=off huge.7z a.bin b.bin");
  std::string archive = read_file(tree.at("huge.7z"));
  auto u64_at = [&](size_t at) {
    uint64_t value = 0;
    for (int k = 7; k >= 0; --k) value = value << 8 | static_cast<uint8_t>(archive[at + k]);
    return value;
  };
  auto put_u32 = [&](size_t at, uint32_t value) {
    for (int k = 0; k < 4; ++k) archive[at + k] = static_cast<char>(value >> (8 * k));
  };
  const size_t header = 32 + u64_at(12);
  const size_t header_size = u64_at(20);
  int patched = 0;
  for (size_t at = archive.find("\x21\x21\x01", header); at != std::string::npos;
       at = archive.find("\x21\x21\x01", at + 1)) {
    archive[at + 3] = 40;
    ++patched;
  }
  ASSERT_EQ(patched, 2);
  put_u32(28, crc32_of(archive.substr(header, header_size)));
  put_u32(8, crc32_of(archive.substr(12, 20)));
  tree.write("huge.7z", archive);
  const RunResult result = run_imgchk_limited({"huge.7z", "after.bin"}, tree.path, 256ull << 20);
  EXPECT_EQ(result.err,
            "imgchk: uncompress of huge.7z?a.bin failed\n"
            "imgchk: uncompress of huge.7z?b.bin failed\n");
  EXPECT_EQ(result.out, listing_of({{"after.bin", "after\n"}}));
  EXPECT_EQ(result.status, 0);
}
