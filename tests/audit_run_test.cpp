// Auditing end to end: a collection built here, the built imgchk run on it
// against DATs written here, its output compared byte for byte.
#include <dirent.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "dat/dat_loading.h"
#include "support/run_imgchk.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"
#include "support/zip_builder.h"

namespace {

std::vector<std::string> list_folder(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* folder = opendir(path.c_str())) {
    while (const dirent* entry = readdir(folder)) names.emplace_back(entry->d_name);
    closedir(folder);
  }
  return names;
}

std::string sha1_hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha1(), nullptr);
  std::string hex;
  char pair[3];
  for (unsigned int k = 0; k < size; ++k) {
    std::snprintf(pair, sizeof pair, "%02x", digest[k]);
    hex += pair;
  }
  return hex;
}

std::string crc_hex(uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", crc);
  return text;
}

std::string rom_element(const std::string& name, const std::string& bytes, const std::string& extra = "") {
  return "<rom name=\"" + name + "\" size=\"" + std::to_string(bytes.size()) + "\" crc=\"" + crc_hex(crc32_of(bytes)) +
         "\" sha1=\"" + sha1_hex(bytes) + "\"" + extra + "/>";
}

// The collection: each part named for what the audit should make of it.
struct Collection {
  TempDir tree;
  std::string dat_path;
  std::string p2;         // the ROM the partial set lacks
  std::string collision;  // the DAT's x.bin: its CRC equals the image's, its SHA-1 does not
  std::vector<std::pair<uint32_t, std::string>> unknown;  // CRC and name
};

void run_in(const TempDir& dir, const std::string& command) {
  const RunResult result = run_program("sh", {"-c", command}, dir.path);
  ASSERT_EQ(result.status, 0) << command << "\n" << result.err;
}

void build_collection(Collection& c) {
  const std::string w1 = random_bytes(100, 1), w2 = random_bytes(120, 2), p1 = random_bytes(64, 3);
  c.p2 = random_bytes(64, 4);
  const std::string m1 = random_bytes(80, 5), m2 = random_bytes(90, 6), parent_rom = random_bytes(70, 7);
  const std::string clone_rom = random_bytes(75, 8), nes_body = random_bytes(256, 9);
  const std::string lynx_body = random_bytes(512, 10), stray = random_bytes(33, 11);
  c.collision = random_bytes(64, 13);
  const std::string collide_image = with_crc(random_bytes(64, 12), crc32_of(c.collision));

  c.tree.write("c/whole.zip", build_zip(zip_of({stored_entry("w1.bin", w1), deflated_entry("w2.bin", w2)})));
  c.tree.write("c/partial/p1.bin", p1);
  c.tree.write("c/loose/m1.bin", m1);
  c.tree.write("c/moved.zip", build_zip(zip_of({stored_entry("m2.bin", m2)})));
  c.tree.write("c/parent.zip",
               build_zip(zip_of({stored_entry("p.bin", parent_rom), stored_entry("c.bin", clone_rom)})));
  c.tree.write("c/nes/game.nes", "NES\x1A" + std::string(12, '\0') + nes_body);
  c.tree.write("c/lynx/game.lnx", "LYNX" + std::string(60, '\x01') + lynx_body);
  c.tree.write("c/stray.bin", stray);
  c.tree.write("c/collide/x.bin", collide_image);
  c.unknown = {{crc32_of(stray), "c/stray.bin"}, {crc32_of(collide_image), "c/collide/x.bin"}};
  std::sort(c.unknown.begin(), c.unknown.end());

  const std::string dat =
      "<?xml version=\"1.0\"?>\n<datafile>\n<header><name>Collection</name></header>\n"
      "<game name=\"whole\">" +
      rom_element("w1.bin", w1) + rom_element("w2.bin", w2) +
      "</game>\n"
      "<game name=\"partial\">" +
      rom_element("p1.bin", p1) + rom_element("p2.bin", c.p2) +
      "<rom name=\"p3.bin\" size=\"64\" status=\"nodump\"/></game>\n"
      "<game name=\"gone\">" +
      rom_element("g1.bin", random_bytes(50, 14)) +
      "</game>\n"
      "<game name=\"moved\">" +
      rom_element("m1.bin", m1) + rom_element("m2.bin", m2) +
      "</game>\n"
      "<game name=\"parent\">" +
      rom_element("p.bin", parent_rom) +
      "</game>\n"
      "<game name=\"clone\" cloneof=\"parent\" romof=\"parent\">" +
      rom_element("c.bin", clone_rom) + rom_element("p.bin", parent_rom, " merge=\"p.bin\"") +
      "</game>\n"
      "<game name=\"nes\">" +
      rom_element("game.nes", nes_body) +
      "</game>\n"
      "<game name=\"lynx\">" +
      rom_element("game.lnx", lynx_body) +
      "</game>\n"
      "<game name=\"collide\">" +
      rom_element("x.bin", c.collision) +
      "</game>\n"
      "</datafile>\n";
  c.dat_path = c.tree.write("collection.dat", dat);
}

TEST(AuditRun, ReportsCompletePartialMissingAndUnknown) {
  Collection c;
  build_collection(c);
  const RunResult run = run_imgchk({"--dat", "collection.dat", "--fixdat=fix.dat", "c"}, c.tree.path);
  std::string want =
      "partial partial (1 of 2)\n"
      "  missing p2.bin size 64 crc " +
      crc_hex(crc32_of(c.p2)) +
      "\n"
      "missing gone\n"
      "complete moved (2 of 2)\n"
      "  elsewhere m1.bin: c/loose/m1.bin\n"
      "missing collide\n";
  for (const auto& [crc, name] : c.unknown) want += "unknown " + name + "\n";
  want += "9 sets: 6 complete, 1 partial, 2 missing; 10 of 13 ROMs; 2 unknown images\n";
  EXPECT_EQ(run.out, want);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 2);

  const RunResult lint = run_program("xmllint", {"--noout", "--nonet", c.tree.at("fix.dat")});
  EXPECT_EQ(lint.status, 0) << lint.err;
  DatFile fixdat;
  DatError error{};
  ASSERT_TRUE(load_dat_file(c.tree.at("fix.dat").c_str(), fixdat, error)) << error.reason;
  std::string sets;
  for (const DatSet& set : fixdat.sets) {
    sets += std::string(dat_text(fixdat, set.name)) + ":";
    for (uint32_t k = 0; k < set.rom_count; ++k)
      sets += std::string(" ") + dat_text(fixdat, fixdat.roms[set.first_rom + k].name);
    sets += ";";
  }
  EXPECT_EQ(sets, "partial: p2.bin;gone: g1.bin;collide: x.bin;");
  EXPECT_STREQ(dat_text(fixdat, fixdat.name), "fixdat: Collection");
}

TEST(AuditRun, Dir2datThenDatFindsEverySetCompleteInPlace) {
  Collection c;
  build_collection(c);
  const RunResult listing = run_imgchk({"c"}, c.tree.path);
  const RunResult written = run_imgchk({"--dir2dat", "all.dat", "c"}, c.tree.path);
  EXPECT_EQ(written.out, listing.out);
  EXPECT_EQ(written.err, "");
  EXPECT_EQ(written.status, 0);
  const RunResult lint = run_program("xmllint", {"--noout", "--nonet", c.tree.at("all.dat")});
  EXPECT_EQ(lint.status, 0) << lint.err;
  const RunResult audit = run_imgchk({"--dat", "all.dat", "c/"}, c.tree.path);
  EXPECT_EQ(audit.out, "9 sets: 9 complete, 0 partial, 0 missing; 11 of 11 ROMs; 0 unknown images\n");
  EXPECT_EQ(audit.status, 0);
  const RunResult again = run_imgchk({"--dir2dat", "again.dat", "--md5", "c"}, c.tree.path);
  EXPECT_EQ(again.status, 0);
  const std::string first = read_file(c.tree.at("all.dat")), second = read_file(c.tree.at("again.dat"));
  EXPECT_NE(second.find(" md5=\""), std::string::npos);
  EXPECT_EQ(first.find(" md5=\""), std::string::npos);
}

bool has_tools(const std::string& names) {
  return run_program("sh", {"-c", "for t in " + names + "; do command -v $t >/dev/null || exit 1; done"}).status == 0;
}

// Names that hold '?', '%', markup, control bytes and bytes that are not
// UTF-8, in loose files and in archives nested two deep of each kind: what
// --dir2dat writes of them, --dat finds complete and in place.
TEST(AuditRun, Dir2datThenDatHoldsAnyNames) {
  if (!has_tools("7zz tar gzip")) GTEST_SKIP() << "archive tools missing";
  TempDir tree;
  const std::vector<std::string> names = {"what?.bin",  "100%.bin",        "a%41.bin",     "ctl\x01.bin",
                                          "hi\xe9.bin", "caf\xc3\xa9.bin", "amp&<q\".bin", "tab\there.bin"};
  // 7zz keeps names as text: those it can.
  const std::vector<std::string> text_names = {"what?.bin", "100%.bin", "a%41.bin", "caf\xc3\xa9.bin", "amp&<q\".bin"};
  unsigned seed = 100;
  std::vector<ZipEntryPlan> inner;
  for (const std::string& name : names) {
    tree.write("c/lo?se%\x02\xff/" + name, random_bytes(60 + seed, seed));
    ++seed;
    inner.push_back(stored_entry(name, random_bytes(60 + seed, seed)));
    ++seed;
    tree.write("t/" + name, random_bytes(60 + seed, seed));
    ++seed;
  }
  inner.push_back(stored_entry("sub/x?y.bin", random_bytes(60 + seed, seed)));
  ++seed;
  for (const std::string& name : text_names) {
    tree.write("s/" + name, random_bytes(60 + seed, seed));
    ++seed;
  }
  tree.write("c/out?er.zip", build_zip(zip_of({stored_entry("in?n%er.zip", build_zip(zip_of(inner)))})));
  run_in(tree,
         "cd t && tar -czf '../n?e%st.tar.gz' * && cd .. && tar -czf 'c/t?ar.tar.gz' 'n?e%st.tar.gz' && "
         "cd s && 7zz a -bd -bso0 '../in%n?er.7z' . && cd .. && 7zz a -bd -bso0 'c/o?ut.7z' 'in%n?er.7z' && "
         "rm -r s t 'n?e%st.tar.gz' 'in%n?er.7z'");
  const RunResult written = run_imgchk({"--dir2dat", "all.dat", "c"}, tree.path);
  EXPECT_EQ(written.err, "");
  EXPECT_EQ(written.status, 0);
  const std::string dat = read_file(tree.at("all.dat"));
  for (const char* set : {"lo?se%%02%FF", "in?n%er", "n?e%st", "in%n?er"}) {
    EXPECT_NE(dat.find(std::string("<game name=\"") + set + "\">"), std::string::npos) << set << dat;
  }
  for (const char* args : {"-j1", "-j3"}) {
    const RunResult audit = run_imgchk({args, "--dat", "all.dat", "c"}, tree.path);
    EXPECT_EQ(audit.out, "4 sets: 4 complete, 0 partial, 0 missing; 30 of 30 ROMs; 0 unknown images\n");
    EXPECT_EQ(audit.status, 0);
  }
}

// A DAT goes to a new file beside the old one, renamed over it once whole:
// a write that fails leaves the old file and nothing else.
TEST(AuditRun, DatsAreWrittenWholeOrNotAtAll) {
  Collection c;
  build_collection(c);
  c.tree.write("old.dat", "old");
  ASSERT_EQ(chmod(c.tree.at("old.dat").c_str(), 0640), 0);
  ASSERT_EQ(symlink("old.dat", c.tree.at("link.dat").c_str()), 0);
  c.tree.make_dir("folder.dat");
  const RunResult listing = run_imgchk({"c"}, c.tree.path);
  // The file size limit (in 512-byte blocks) stops the write part way.
  const std::string limited = "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"";
  struct Case {
    std::vector<std::string> args;
    bool limit;
    bool written;
  };
  const Case cases[] = {
      {{"--dir2dat", "old.dat", "c"}, true, false},
      {{"--dir2dat", "folder.dat", "c"}, false, false},
      {{"--dir2dat", "link.dat", "c"}, false, true},  // the link's file is replaced; the link stays
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.args[1]);
    std::vector<std::string> args = {"-c", limited, imgchk_path()};
    args.insert(args.end(), k.args.begin(), k.args.end());
    const RunResult run = k.limit ? run_program("sh", args, c.tree.path) : run_imgchk(k.args, c.tree.path);
    EXPECT_EQ(run.out, listing.out);
    EXPECT_EQ(run.err, k.written ? "" : "imgchk: cannot write DAT " + k.args[1] + "\n");
    EXPECT_EQ(run.status, k.written ? 0 : 1);
    if (k.limit) {
      EXPECT_EQ(read_file(c.tree.at("old.dat")), "old");
    }
    const std::vector<std::string> names = {".", "c", "collection.dat", "folder.dat", "link.dat", "old.dat", ".."};
    for (const auto& entry : list_folder(c.tree.path)) {
      EXPECT_NE(std::find(names.begin(), names.end(), entry), names.end()) << entry;
    }
  }
  const std::string written = read_file(c.tree.at("old.dat"));
  EXPECT_EQ(written.substr(0, 5), "<?xml");
  struct stat status {};
  ASSERT_EQ(lstat(c.tree.at("link.dat").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(stat(c.tree.at("old.dat").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640u);
}

TEST(AuditRun, UnreadableDatsStopTheRunBeforeAnyPath) {
  TempDir tree;
  tree.write("c/a.bin", "abc");
  tree.write("laughs.dat", "<?xml version=\"1.0\"?>\n<!DOCTYPE d [\n<!ENTITY a \"aaaa\">\n]><datafile/>\n");
  tree.write("badcrc.dat",
             "<datafile>\n<game name=\"g\">\n<rom name=\"r\" size=\"3\" crc=\"12\"/>\n</game></datafile>");
  tree.write("good.dat",
             "clrmamepro ( name good header nes.xml )\ngame ( name c rom ( name a.bin size 3 crc 352441c2 ) )\n");
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"--dat", "laughs.dat", "c"}, "imgchk: cannot read DAT laughs.dat: line 3: entity declarations are refused\n"},
      {{"--dat=good.dat", "--dat", "badcrc.dat", "c"},
       "imgchk: cannot read DAT badcrc.dat: line 3: crc \"12\" is not 8 hex digits\n"},
      {{"--dat", "none.dat", "c"}, "imgchk: cannot read DAT none.dat: No such file or directory\n"},
      {{"--dat", "good.dat", "--header", "good.dat", "c"},
       "imgchk: cannot read header rules good.dat: line 1: syntax error\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    const RunResult run = run_imgchk(c.args, tree.path);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, 1);
  }
  // The DAT asks for header rules: said once, however many DATs ask.
  tree.write("other.dat", "clrmamepro ( header nes.xml )\ngame ( name d rom ( name a.bin size 3 crc 352441c2 ) )\n");
  const RunResult good = run_imgchk({"--dat", "good.dat", "--dat", "other.dat", "c"}, tree.path);
  EXPECT_EQ(good.out,
            "dat good\n1 sets: 1 complete, 0 partial, 0 missing; 1 of 1 ROMs\n"
            "dat other.dat\ncomplete d (1 of 1)\n  elsewhere a.bin: c/a.bin\n"
            "1 sets: 1 complete, 0 partial, 0 missing; 1 of 1 ROMs\n"
            "2 sets: 2 complete, 0 partial, 0 missing; 2 of 2 ROMs; 0 unknown images\n");
  EXPECT_EQ(good.err,
            "imgchk: DAT good.dat names header rules nes.xml; the built-in rules apply (give them with --header)\n");
  EXPECT_EQ(good.status, 2);
}

// A DAT given again, as the same file, through another path, or as a copy,
// is read once; each DAT's sets stay its own, also in JSON.
TEST(AuditRun, EachDatIsReadOnceAndReportedOnItsOwn) {
  TempDir tree;
  tree.write("c/a.bin", "abc");
  const std::string first = "clrmamepro ( name First )\ngame ( name c rom ( name a.bin size 3 crc 352441c2 ) )\n";
  tree.write("first.dat", first);
  tree.write("copy.dat", first);
  tree.write("second.dat",
             "<datafile><header><name>Second</name></header><game name=\"c\">"
             "<rom name=\"b.bin\" size=\"1\" crc=\"00000001\"/></game></datafile>");
  const std::string once = "1 sets: 1 complete, 0 partial, 0 missing; 1 of 1 ROMs; 0 unknown images\n";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--dat", "first.dat", "--dat=first.dat", "c"},
        std::vector<std::string>{"--dat", "first.dat", "--dat", "./first.dat", "c"},
        std::vector<std::string>{"--dat", "first.dat", "--dat", "copy.dat", "c"}}) {
    SCOPED_TRACE(args[3]);
    const RunResult run = run_imgchk(args, tree.path);
    EXPECT_EQ(run.out, once);
    EXPECT_EQ(run.status, 0);
  }
  const RunResult both = run_imgchk({"--json", "--dat", "first.dat", "--dat", "second.dat", "c"}, tree.path);
  EXPECT_EQ(both.out,
            "{\"type\":\"rom\",\"dat\":\"First\",\"set\":\"c\",\"rom\":\"a.bin\",\"size\":3,\"crc\":\"352441c2\","
            "\"status\":\"have\",\"in_place\":true,\"found\":[\"c/a.bin\"]}\n"
            "{\"type\":\"set\",\"dat\":\"First\",\"set\":\"c\",\"status\":\"complete\",\"have\":1,\"roms\":1}\n"
            "{\"type\":\"summary\",\"dat\":\"First\",\"sets\":1,\"complete\":1,\"partial\":0,\"missing\":0,"
            "\"roms\":1,\"have\":1}\n"
            "{\"type\":\"rom\",\"dat\":\"Second\",\"set\":\"c\",\"rom\":\"b.bin\",\"size\":1,\"crc\":\"00000001\","
            "\"status\":\"missing\",\"in_place\":false,\"found\":[]}\n"
            "{\"type\":\"set\",\"dat\":\"Second\",\"set\":\"c\",\"status\":\"missing\",\"have\":0,\"roms\":1}\n"
            "{\"type\":\"summary\",\"dat\":\"Second\",\"sets\":1,\"complete\":0,\"partial\":0,\"missing\":1,"
            "\"roms\":1,\"have\":0}\n"
            "{\"type\":\"summary\",\"sets\":2,\"complete\":1,\"partial\":0,\"missing\":1,\"roms\":2,\"have\":1,"
            "\"unknown\":0}\n");
  EXPECT_EQ(both.status, 2);
  // The fixdat names every DAT once.
  ASSERT_EQ(run_imgchk({"--dat", "first.dat", "--dat", "second.dat", "--dat", "copy.dat", "--fixdat", "f.dat", "c"},
                       tree.path)
                .status,
            2);
  EXPECT_NE(read_file(tree.at("f.dat")).find("<name>fixdat: First, Second</name>"), std::string::npos);
}

}  // namespace

namespace {

TEST(AuditRun, JsonLinesGiveEveryRomSetAndUnknownImage) {
  TempDir tree;
  tree.write("c/a.bin", "abc");
  tree.write("c/x\xff.bin", "zz");
  tree.write("d/a.bin", "abc");
  tree.write("j.dat",
             "clrmamepro ( name j )\n"
             "game ( name c rom ( name a.bin size 3 crc 352441c2 ) rom ( name b.bin size 1 crc 00000001 )\n"
             "  rom ( name n.bin size 9 flags nodump ) )\n"
             "game ( name \"caf\xc3\xa9\" rom ( name \"x\xff.bin\" size 2 crc " +
                 crc_hex(crc32_of("zz")) + " ) )\n");
  const RunResult run = run_imgchk({"--json", "--dat", "j.dat", "c", "d", "missing"}, tree.path);
  EXPECT_EQ(
      run.out,
      "{\"type\":\"rom\",\"dat\":\"j\",\"set\":\"c\",\"rom\":\"a.bin\",\"size\":3,\"crc\":\"352441c2\",\"status\":"
      "\"have\","
      "\"in_place\":true,\"found\":[\"c/a.bin\",\"d/a.bin\"]}\n"
      "{\"type\":\"rom\",\"dat\":\"j\",\"set\":\"c\",\"rom\":\"b.bin\",\"size\":1,\"crc\":\"00000001\",\"status\":"
      "\"missing\","
      "\"in_place\":false,\"found\":[]}\n"
      "{\"type\":\"rom\",\"dat\":\"j\",\"set\":\"c\",\"rom\":\"n.bin\",\"size\":9,\"crc\":null,\"status\":\"nodump\","
      "\"in_place\":false,\"found\":[]}\n"
      "{\"type\":\"set\",\"dat\":\"j\",\"set\":\"c\",\"status\":\"partial\",\"have\":1,\"roms\":2}\n"
      "{\"type\":\"rom\",\"dat\":\"j\",\"set\":\"caf\xc3\xa9\",\"rom\":\"x\xef\xbf\xbd.bin\",\"rom_hex\":"
      "\"78ff2e62696e\","
      "\"size\":2,\"crc\":\"" +
          crc_hex(crc32_of("zz")) +
          "\",\"status\":\"have\",\"in_place\":false,"
          "\"found\":[\"c/x\xef\xbf\xbd.bin\"],\"found_hex\":[\"632f78ff2e62696e\"]}\n"
          "{\"type\":\"set\",\"dat\":\"j\",\"set\":\"caf\xc3\xa9\",\"status\":\"complete\",\"have\":1,\"roms\":1}\n"
          "{\"type\":\"error\",\"name\":\"missing\",\"message\":\"error opening missing\",\"reason\":\"missing\"}\n"
          "{\"type\":\"summary\",\"sets\":2,\"complete\":1,\"partial\":1,\"missing\":0,\"roms\":3,\"have\":2,"
          "\"unknown\":0}\n");
  EXPECT_EQ(run.err, "imgchk: error opening missing\n");
  EXPECT_EQ(run.status, 6);
  tree.write("e/u.bin", "qq");
  const RunResult unknown = run_imgchk({"--json", "--dat", "j.dat", "e"}, tree.path);
  const size_t unknown_line = unknown.out.find("{\"type\":\"unknown\"");
  ASSERT_NE(unknown_line, std::string::npos);
  EXPECT_EQ(unknown.out.substr(unknown_line),
            "{\"type\":\"unknown\",\"name\":\"e/u.bin\",\"size\":2,\"crc\":\"" + crc_hex(crc32_of("qq")) +
                "\",\"sha1\":\"" + sha1_hex("qq") +
                "\"}\n{\"type\":\"summary\",\"sets\":2,\"complete\":0,\"partial\":0,\"missing\":2,\"roms\":3,"
                "\"have\":0,\"unknown\":1}\n");
}

}  // namespace

namespace {

// 2 for a required ROM not in place, 4 for anything unread, 6 for both; the
// listing says 4 only when asked.
TEST(AuditRun, ExitStatusSaysWhatIsLackingAndWhatWasUnread) {
  TempDir tree;
  const std::string a = random_bytes(40, 31), b = random_bytes(41, 32);
  tree.write("c/s/a.bin", a);
  tree.write("c/s/b.bin", b);
  tree.write("c/other/b.bin", b);
  std::string broken = build_zip(zip_of({deflated_entry("x.bin", random_bytes(200, 33))}));
  broken[broken.find("x.bin") + 5 + 10] ^= 0x55;  // inside the deflated data
  tree.write("bad/broken.zip", broken);
  tree.write("s.dat",
             "<datafile><game name=\"s\">" + rom_element("a.bin", a) + rom_element("b.bin", b) + "</game></datafile>");
  tree.write("t.dat", "<datafile><game name=\"t\">" + rom_element("b.bin", b) + "</game></datafile>");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"--dat", "s.dat", "c/s"}, 0},
      {{"--dat", "s.dat", "--dat", "t.dat", "c"}, 2},  // t's ROM is only elsewhere
      {{"--dat", "s.dat", "c/other"}, 2},
      {{"--dat", "s.dat", "c/s", "nothing"}, 4},
      {{"--dat", "s.dat", "c/s", "bad"}, 4},
      {{"--json", "--dat", "s.dat", "c/s", "bad"}, 4},
      {{"--dat", "s.dat", "c/other", "bad"}, 6},
      {{"c/s", "nothing", "bad"}, 0},
      {{"--strict", "c/s"}, 0},
      {{"--strict", "c/s", "bad"}, 4},
      {{"--strict", "--json", "nothing"}, 4},
      {{"--strict", "-pzc", "nothing"}, 0},  // -pzc reads only archives
      {{"--strict", "-pzc", "nothing.zip"}, 4},
  };
  for (const Case& c : cases) {
    std::string trace;
    for (const std::string& arg : c.args) trace += arg + " ";
    SCOPED_TRACE(trace);
    EXPECT_EQ(run_imgchk(c.args, tree.path).status, c.status);
  }
  // Cut short output still fails the run, whatever the audit found.
  EXPECT_EQ(run_imgchk({"--dat", "s.dat", "c/other"}, tree.path, "/dev/full").status, 1);
}

// The same tree twice: with the clutter that --exclude leaves out, and
// without it. Each run with the patterns must equal the plain run on the
// clean tree, in the listing, the audit and the dir2dat.
void build_excluded_tree(const TempDir& tree, bool clutter) {
  const std::string keep = random_bytes(90, 41), keep2 = random_bytes(91, 42), deep = random_bytes(92, 43);
  TempDir parts;
  parts.write("keep2.bin", keep2);
  std::vector<std::string> tar_args = {"-cf", "inner.tar", "keep2.bin"};
  if (clutter) {
    parts.write("deep.nfo", "nfo text");
    parts.write(".cache/deep.bin", deep);
    tar_args.insert(tar_args.end(), {"deep.nfo", ".cache"});
  }
  ASSERT_EQ(run_program("tar", tar_args, parts.path).status, 0);
  std::vector<ZipEntryPlan> entries = {stored_entry("keep.bin", keep),
                                       stored_entry("inner.tar", read_file(parts.at("inner.tar")))};
  tree.write("c/keep.bin", keep);
  if (clutter) {
    entries.push_back(stored_entry("info.nfo", "nfo"));
    entries.push_back(stored_entry(".meta/x.bin", random_bytes(20, 44)));
    tree.write("c/Thumbs.db", random_bytes(30, 45));
    tree.write("c/x.nfo", "nfo");
    tree.write("c/.hidden/a.bin", random_bytes(31, 46));
  }
  tree.write("c/pack.zip", build_zip(zip_of(entries)));
}

TEST(AuditRun, ExcludedNamesAreNeitherWalkedListedNorRead) {
  TempDir cluttered, clean;
  build_excluded_tree(cluttered, true);
  build_excluded_tree(clean, false);
  const std::vector<std::string> patterns = {"--exclude", ".*", "--exclude=Thumbs.db", "--exclude", "*.nfo"};
  auto with_patterns = [&](std::vector<std::string> args) {
    args.insert(args.begin(), patterns.begin(), patterns.end());
    return args;
  };
  const RunResult listing = run_imgchk(with_patterns({"c"}), cluttered.path);
  const RunResult want = run_imgchk({"c"}, clean.path);
  EXPECT_EQ(listing.out, want.out);
  EXPECT_NE(want.out.find("c/pack.zip?inner.tar?keep2.bin"), std::string::npos);
  EXPECT_EQ(listing.err, "");
  EXPECT_EQ(run_imgchk(with_patterns({"--json", "c"}), cluttered.path).out,
            run_imgchk({"--json", "c"}, clean.path).out);

  ASSERT_EQ(run_imgchk(with_patterns({"--dir2dat", "d.dat", "c"}), cluttered.path).status, 0);
  ASSERT_EQ(run_imgchk({"--dir2dat", "d.dat", "c"}, clean.path).status, 0);
  EXPECT_EQ(read_file(cluttered.at("d.dat")), read_file(clean.at("d.dat")));
  const RunResult audit = run_imgchk(with_patterns({"--dat", "d.dat", "c"}), cluttered.path);
  EXPECT_EQ(audit.out, "3 sets: 3 complete, 0 partial, 0 missing; 3 of 3 ROMs; 0 unknown images\n");
  EXPECT_EQ(audit.status, 0);

  // A path given is walked whatever its name; only what lies below is matched.
  const RunResult given = run_imgchk({"--exclude", "*.nfo", "--exclude", "c", "c/x.nfo", "c/.hidden"}, cluttered.path);
  EXPECT_NE(given.out.find(" c/x.nfo\n"), std::string::npos);
  EXPECT_NE(given.out.find(" c/.hidden/a.bin\n"), std::string::npos);

  // A cached archive read with patterns does not stand for it without them.
  ASSERT_EQ(run_imgchk(with_patterns({"--cache=c.sqlite", "c"}), cluttered.path).out, want.out);
  EXPECT_EQ(run_imgchk({"--cache=c.sqlite", "c"}, cluttered.path).out, run_imgchk({"c"}, cluttered.path).out);
}

std::string put_u32_be(std::string bytes, size_t offset, uint32_t value) {
  for (int k = 0; k < 4; ++k) bytes[offset + k] = static_cast<char>(value >> (24 - 8 * k));
  return bytes;
}

// A CHD: its header (magic, length, version, the SHA-1s at their offsets)
// and some hunk bytes the audit never looks at.
std::string chd_file(uint32_t version, uint32_t header_size, size_t sha1_offset, const std::string& sha1_bytes,
                     size_t raw_sha1_offset = 0, const std::string& raw_sha1 = "") {
  std::string bytes = "MComprHD" + std::string(header_size - 8, '\0');
  bytes = put_u32_be(put_u32_be(bytes, 8, header_size), 12, version);
  bytes.replace(sha1_offset, 20, sha1_bytes);
  if (!raw_sha1.empty()) bytes.replace(raw_sha1_offset, 20, raw_sha1);
  return bytes + random_bytes(300, version);
}

std::string hex_of(const std::string& bytes) {
  std::string hex;
  for (const char byte : bytes) hex += crc_hex(static_cast<uint8_t>(byte)).substr(6);
  return hex;
}

// Disks are found by the SHA-1 in a CHD's header, of versions 3, 4 and 5;
// machines without ROMs or disks are not sets.
TEST(AuditRun, DisksAreFoundByTheirChdHeader) {
  TempDir tree;
  const std::string s3 = random_bytes(20, 51), s4 = random_bytes(20, 52), s5 = random_bytes(20, 53);
  const std::string raw5 = random_bytes(20, 54), gone = random_bytes(20, 55), bd = random_bytes(20, 56);
  const std::string bios = random_bytes(64, 57), b = random_bytes(65, 58);
  tree.write("c/hdd3/disc.chd", chd_file(3, 120, 80, s3));
  tree.write("c/hdd3/bios.bin", bios);
  tree.write("c/hdd4/disc.chd", chd_file(4, 108, 48, s4));
  tree.write("c/other/x.chd", chd_file(5, 124, 84, s5, 64, raw5));
  tree.write("c/both/b.bin", b);
  const std::string wrong_length = chd_file(5, 120, 84, s5);
  const std::string cut = chd_file(5, 124, 84, s5).substr(0, 100);
  tree.write("c/bad/length.chd", wrong_length);
  tree.write("c/bad/cut.chd", cut);
  auto disk = [](const std::string& name, const std::string& sha1) {
    return "<disk name=\"" + name + "\" sha1=\"" + hex_of(sha1) + "\" region=\"ide\"/>";
  };
  tree.write("m.xml", "<mame build=\"t\">\n<machine name=\"hdd3\">" + rom_element("bios.bin", bios) + disk("disc", s3) +
                          "</machine>\n<machine name=\"hdd4\">" + disk("disc", s4) +
                          "</machine>\n<machine name=\"hdd5\">" + disk("disc5", s5) +
                          "</machine>\n<machine name=\"nochd\">" + disk("gone", gone) +
                          "</machine>\n<machine name=\"raw\">" + disk("r", raw5) +
                          "</machine>\n<machine name=\"device\"><device_ref name=\"x\"/></machine>\n"
                          "<machine name=\"spare\"><disk name=\"s\" status=\"nodump\"/></machine>\n"
                          "<machine name=\"both\">" +
                          rom_element("b.bin", b) + disk("bd", bd) + "</machine>\n</mame>\n");
  std::vector<std::pair<uint32_t, std::string>> unknown = {{crc32_of(wrong_length), "c/bad/length.chd"},
                                                           {crc32_of(cut), "c/bad/cut.chd"}};
  std::sort(unknown.begin(), unknown.end());
  std::string want =
      "complete hdd5 (1 of 1)\n"
      "  elsewhere disk disc5: c/other/x.chd\n"
      "missing nochd\n"
      "missing raw\n"
      "partial both (1 of 2)\n"
      "  missing disk bd sha1 " +
      hex_of(bd) + "\n";
  for (const auto& [crc, name] : unknown) want += "unknown " + name + "\n";
  want += "7 sets: 4 complete, 1 partial, 2 missing; 5 of 8 ROMs; 2 unknown images\n";
  const RunResult run = run_imgchk({"--dat", "m.xml", "c"}, tree.path);
  EXPECT_EQ(run.out, want);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 2);
  // The cache keeps no CHD header: a file named as a CHD is read again.
  for (int round = 0; round < 2; ++round)
    EXPECT_EQ(run_imgchk({"--cache=c.sqlite", "--dat", "m.xml", "c"}, tree.path).out, want);
  const RunResult json = run_imgchk({"--json", "--dat", "m.xml", "c"}, tree.path);
  EXPECT_NE(
      json.out.find("{\"type\":\"disk\",\"dat\":\"t\",\"set\":\"hdd5\",\"disk\":\"disc5\",\"sha1\":\"" + hex_of(s5) +
                    "\",\"status\":\"have\",\"in_place\":false,\"found\":[\"c/other/x.chd\"]}\n"
                    "{\"type\":\"set\",\"dat\":\"t\",\"set\":\"hdd5\",\"status\":\"complete\",\"have\":1,"
                    "\"roms\":1}\n"),
      std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"disk\":\"s\",\"sha1\":null,\"status\":\"nodump\""), std::string::npos);
  EXPECT_EQ(json.out.find("device"), std::string::npos);
  // The fixdat gives ROMs only: sets that lack only disks are left out.
  ASSERT_EQ(run_imgchk({"--dat", "m.xml", "--fixdat", "f.xml", "c"}, tree.path).status, 2);
  const std::string fixdat = read_file(tree.at("f.xml"));
  EXPECT_NE(fixdat.find("</datafile>"), std::string::npos);
  EXPECT_EQ(fixdat.find("<game"), std::string::npos) << fixdat;
}

TEST(AuditRun, HeaderRulesFromAFileReplaceTheBuiltInOnes) {
  TempDir tree;
  const std::string body = random_bytes(300, 21), nes_body = random_bytes(200, 22);
  tree.write("c/g.bin", "HDR!" + body);
  tree.write("c/n.nes", "NES\x1A" + std::string(12, '\0') + nes_body);
  tree.write("h.dat", "<datafile><game name=\"c\">" + rom_element("g.bin", body) + rom_element("n.nes", nes_body) +
                          "</game></datafile>");
  tree.write("rules.xml",
             "<?xml version=\"1.0\"?>\n<detector><name>test</name>\n"
             "<rule start_offset=\"4\"><data offset=\"0\" value=\"48445221\"/></rule>\n</detector>\n");
  const RunResult built_in = run_imgchk({"--dat", "h.dat", "c"}, tree.path);
  EXPECT_EQ(built_in.out,
            "partial c (1 of 2)\n  missing g.bin size 300 crc " + crc_hex(crc32_of(body)) +
                "\nunknown c/g.bin\n1 sets: 0 complete, 1 partial, 0 missing; 1 of 2 ROMs; 1 unknown images\n");
  const RunResult from_file = run_imgchk({"--dat", "h.dat", "--header", "rules.xml", "c"}, tree.path);
  EXPECT_EQ(from_file.out,
            "partial c (1 of 2)\n  missing n.nes size 200 crc " + crc_hex(crc32_of(nes_body)) +
                "\nunknown c/n.nes\n1 sets: 0 complete, 1 partial, 0 missing; 1 of 2 ROMs; 1 unknown images\n");
  EXPECT_EQ(from_file.err, "");
}

}  // namespace
