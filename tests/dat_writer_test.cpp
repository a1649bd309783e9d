// Writing DATs: the exact bytes, well-formed XML whatever the names hold
// (checked by xmllint), and read back to the same records.
#include "dat/dat_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "dat/dat_loading.h"
#include "support/run_imgchk.h"
#include "support/temp_dir.h"

namespace {

void add_set(DatFile& dat, const char* name, const char* cloneof) {
  DatSet set{};
  ASSERT_TRUE(add_dat_text(dat, name, set.name));
  ASSERT_TRUE(add_dat_text(dat, cloneof, set.cloneof));
  ASSERT_TRUE(add_dat_set(dat, set));
}

void add_rom(DatFile& dat, const char* name, uint64_t size, uint32_t crc, uint8_t extra_fields) {
  DatRom rom{};
  ASSERT_TRUE(add_dat_text(dat, name, rom.name));
  rom.size = size;
  rom.crc = crc;
  rom.fields = dat_has_size | dat_has_crc | extra_fields;
  for (int k = 0; k < dat_sha1_size; ++k) rom.sha1[k] = static_cast<uint8_t>(k);
  for (int k = 0; k < dat_sha256_size; ++k) rom.sha256[k] = static_cast<uint8_t>(0xFF - k);
  for (int k = 0; k < dat_md5_size; ++k) rom.md5[k] = static_cast<uint8_t>(0x10 * k);
  if (extra_fields & dat_has_status) rom.status = DatRomStatus::BadDump;
  ASSERT_TRUE(add_dat_rom(dat, rom));
}

std::string written(const DatFile& dat, const char* header_name) {
  TempDir tree;
  const std::string path = tree.at("out.dat");
  EXPECT_TRUE(write_dat_file(path.c_str(), dat, header_name));
  return read_file(path);
}

TEST(DatWriter, WritesLogiqxByteForByte) {
  DatFile dat;
  ASSERT_TRUE(begin_dat(dat));
  add_set(dat, "Game & <Friends>", "");
  add_rom(dat, "a \"quoted\".bin", 16, 0x0000BEEF, dat_has_sha1 | dat_has_md5 | dat_has_sha256 | dat_has_status);
  add_set(dat, "Empty", "");
  add_set(dat, "Clone", "Game & <Friends>");
  add_rom(dat, "dir/b.bin", 0, 0xFFFFFFFF, 0);
  EXPECT_EQ(written(dat, "fixdat: Test"),
            "<?xml version=\"1.0\"?>\n"
            "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
            "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
            "<datafile>\n\t<header>\n\t\t<name>fixdat: Test</name>\n\t\t<description>fixdat: Test</description>\n"
            "\t\t<author>imgchk</author>\n\t</header>\n"
            "\t<game name=\"Game &amp; &lt;Friends&gt;\">\n"
            "\t\t<description>Game &amp; &lt;Friends&gt;</description>\n"
            "\t\t<rom name=\"a &quot;quoted&quot;.bin\" size=\"16\" crc=\"0000beef\" "
            "md5=\"00102030405060708090a0b0c0d0e0f0\" sha1=\"000102030405060708090a0b0c0d0e0f10111213\" "
            "sha256=\"fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0efeeedecebeae9e8e7e6e5e4e3e2e1e0\" status=\"baddump\"/>\n"
            "\t</game>\n"
            "\t<game name=\"Clone\" cloneof=\"Game &amp; &lt;Friends&gt;\">\n"
            "\t\t<description>Clone</description>\n"
            "\t\t<rom name=\"dir/b.bin\" size=\"0\" crc=\"ffffffff\"/>\n"
            "\t</game>\n"
            "</datafile>\n");
}

TEST(DatWriter, OddNamesStayWellFormedAndReadBack) {
  struct Case {
    const char* name;
    const char* read_back;
  };
  const Case cases[] = {
      {"caf\xC3\xA9 \xE2\x82\xAC.bin", "caf\xC3\xA9 \xE2\x82\xAC.bin"},  // clean UTF-8 stays
      {"latin\xE9.bin", "latin%E9.bin"},                                 // not UTF-8
      {"caf\xC3\xA9\x01.bin", "caf%C3%A9%01.bin"},                       // a control byte
      {"tab\there", "tab%09here"},
      {"overlong \xC0\xAF", "overlong %C0%AF"},
      {"surrogate \xED\xA0\x80", "surrogate %ED%A0%80"},
      {"cut \xE2\x82", "cut %E2%82"},
      {"100% & more", "100% & more"},
  };
  DatFile dat;
  ASSERT_TRUE(begin_dat(dat));
  add_set(dat, "set\x7F", "");
  for (const Case& c : cases) add_rom(dat, c.name, 1, 2, dat_has_sha1);
  TempDir tree;
  const std::string path = tree.at("odd.dat");
  ASSERT_TRUE(write_dat_file(path.c_str(), dat, "odd \xFF"));
  const RunResult lint = run_program("xmllint", {"--noout", "--nonet", path});
  EXPECT_EQ(lint.status, 0) << lint.err;
  EXPECT_EQ(lint.err, "");

  DatFile again;
  DatError error{};
  ASSERT_TRUE(load_dat_file(path.c_str(), again, error)) << error.line << ": " << error.reason;
  EXPECT_STREQ(dat_text(again, again.name), "odd %FF");
  ASSERT_EQ(again.sets.count, 1u);
  EXPECT_STREQ(dat_text(again, again.sets[0].name), "set%7F");
  ASSERT_EQ(again.roms.count, sizeof cases / sizeof cases[0]);
  for (size_t k = 0; k < again.roms.count; ++k) {
    SCOPED_TRACE(cases[k].name);
    EXPECT_STREQ(dat_text(again, again.roms[k].name), cases[k].read_back);
    EXPECT_EQ(again.roms[k].fields, dat.roms[k].fields);
    EXPECT_EQ(0, std::memcmp(again.roms[k].sha1, dat.roms[k].sha1, dat_sha1_size));
  }
}

}  // namespace
