// Auditing end to end: a collection built here, the built imgchk run on it
// against DATs written here, its output compared byte for byte.
#include <gtest/gtest.h>
#include <openssl/evp.h>

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
  EXPECT_EQ(run.status, 0);

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
  const RunResult good = run_imgchk({"--dat", "good.dat", "--dat", "good.dat", "c"}, tree.path);
  EXPECT_EQ(good.out, "2 sets: 2 complete, 0 partial, 0 missing; 2 of 2 ROMs; 0 unknown images\n");
  EXPECT_EQ(good.err,
            "imgchk: DAT good.dat names header rules nes.xml; the built-in rules apply (give them with --header)\n");
  EXPECT_EQ(good.status, 0);
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
      "{\"type\":\"rom\",\"set\":\"c\",\"rom\":\"a.bin\",\"size\":3,\"crc\":\"352441c2\",\"status\":\"have\","
      "\"in_place\":true,\"found\":[\"c/a.bin\",\"d/a.bin\"]}\n"
      "{\"type\":\"rom\",\"set\":\"c\",\"rom\":\"b.bin\",\"size\":1,\"crc\":\"00000001\",\"status\":\"missing\","
      "\"in_place\":false,\"found\":[]}\n"
      "{\"type\":\"rom\",\"set\":\"c\",\"rom\":\"n.bin\",\"size\":9,\"crc\":null,\"status\":\"nodump\","
      "\"in_place\":false,\"found\":[]}\n"
      "{\"type\":\"set\",\"set\":\"c\",\"status\":\"partial\",\"have\":1,\"roms\":2}\n"
      "{\"type\":\"rom\",\"set\":\"caf\xc3\xa9\",\"rom\":\"x\xef\xbf\xbd.bin\",\"rom_hex\":\"78ff2e62696e\","
      "\"size\":2,\"crc\":\"" +
          crc_hex(crc32_of("zz")) +
          "\",\"status\":\"have\",\"in_place\":false,"
          "\"found\":[\"c/x\xef\xbf\xbd.bin\"],\"found_hex\":[\"632f78ff2e62696e\"]}\n"
          "{\"type\":\"set\",\"set\":\"caf\xc3\xa9\",\"status\":\"complete\",\"have\":1,\"roms\":1}\n"
          "{\"type\":\"error\",\"name\":\"missing\",\"message\":\"error opening missing\",\"reason\":\"missing\"}\n"
          "{\"type\":\"summary\",\"sets\":2,\"complete\":1,\"partial\":1,\"missing\":0,\"roms\":3,\"have\":2,"
          "\"unknown\":0}\n");
  EXPECT_EQ(run.err, "imgchk: error opening missing\n");
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
