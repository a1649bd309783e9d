// The audit over a constructed catalogue: matching, the in-place rule, the
// report's lines and the fixdat, read back.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "archive/archive_kind.h"
#include "audit/dir2dat.h"
#include "audit/fixdat.h"
#include "audit/in_place.h"
#include "audit/matching.h"
#include "dat/dat_loading.h"
#include "dat/dat_writer.h"
#include "dat/rom_fields.h"
#include "report/audit_report.h"
#include "support/capture_stdout.h"
#include "support/temp_dir.h"

namespace {

// The provenance a walk would give the image written as `chain`, its levels
// separated by `separator` ('|' lets names hold '?'). A level below a ".gz"
// is the gzip image, named by its archive.
Provenance origin_of(const std::string& chain, char separator = '?') {
  size_t end = chain.find(separator);
  Provenance origin{make_source_file(chain.substr(0, end), false, 0, 0), {}};
  std::string container = chain.substr(0, end);
  uint32_t index = 0;
  while (end != std::string::npos) {
    const size_t start = end + 1;
    end = chain.find(separator, start);
    const std::string name = chain.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const ArchiveKind kind = archive_kind_of(container.c_str());
    origin = entry_of(origin, static_cast<uint8_t>(kind), index++, name, kind == ArchiveKind::Gzip);
    container = name;
  }
  return origin;
}

bool in_set(const std::string& chain, const char* set, const char* rom, char separator = '?') {
  return is_in_set(place_of(origin_of(chain, separator)), set, rom);
}

TEST(AuditInPlace, SetArchiveOrDirectoryAtAnyDepth) {
  struct Case {
    const char* image;
    const char* set;
    const char* rom;
    bool want;
    char separator = '?';
  };
  const Case cases[] = {
      {"pacman.zip?pm.6e", "pacman", "pm.6e", true},
      {"roms/pacman.ZIP?pm.6e", "pacman", "pm.6e", true},
      {"roms/pacman/pm.6e", "pacman", "pm.6e", true},
      {"pacman/pm.6e", "pacman", "pm.6e", true},
      {"roms/pacman//pm.6e", "pacman", "pm.6e", true},
      {"all.zip?pacman.zip?pm.6e", "pacman", "pm.6e", true},
      {"all.zip?pacman/pm.6e", "pacman", "pm.6e", true},
      {"pacman.zip?sub/pm.6e", "pacman", "sub/pm.6e", true},
      {"roms/pacman.7z?pm.6e", "pacman", "pm.6e", true},
      {"pacman.Tar.Gz?pm.6e", "pacman", "pm.6e", true},
      {"all.rar?pacman.tar?pm.6e", "pacman", "pm.6e", true},
      {"pacman.tar.gz?pm.6e", "pacman.tar", "pm.6e", false},
      {"mspacman.zip?pm.6e", "pacman", "pm.6e", false},
      {"roms/mspacman/pm.6e", "pacman", "pm.6e", false},
      {"pacman.zip?xpm.6e", "pacman", "pm.6e", false},
      {"pacman.zip?sub/pm.6e", "pacman", "pm.6e", false},
      {"pacman.7z.txt?pm.6e", "pacman", "pm.6e", false},
      {"pacman?pm.6e", "pacman", "pm.6e", false},
      {"pm.6e", "pacman", "pm.6e", false},
      {"pacman.zip/pm.6e", "pacman", "pm.6e", false},
      {"pacman.zip?pm.6e", "", "pm.6e", false},
      // A '?' in a name is no level, and a level is no '?' in a name.
      {"roms/set/what?.bin", "set", "what?.bin", true, '|'},
      {"roms/set/what?.bin", "set/what", ".bin", false, '|'},
      {"roms/game.zip|a?b.bin", "game", "a?b.bin", true, '|'},
      {"roms/game.zip|a?b.bin", "game.zip?a", "b.bin", false, '|'},
      {"bundle.zip|game?1.zip|x.bin", "game?1", "x.bin", true, '|'},
      {"bundle.zip|game.zip?1|x.bin", "game", "1|x.bin", false, '|'},
      {"roms/b.bin.gz|", "b.bin", "b.bin", true, '|'},
      // Names as a DAT written here gives them back, and '%' as it is.
      {"roms/s\x01t.zip|r\x02.bin", "s%01t", "r%02.bin", true, '|'},
      {"roms/s\xfft/a\xc3\xa9.bin", "s%FFt", "a\xc3\xa9.bin", true, '|'},
      {"roms/s\xfft/a\xe9.bin", "s%FFt", "a%E9.bin", true, '|'},
      {"roms/100%.zip|a%41.bin", "100%", "a%41.bin", true, '|'},
      {"roms/100%.zip|aA.bin", "100%", "a%41.bin", false, '|'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    EXPECT_EQ(in_set(c.image, c.set, c.rom, c.separator), c.want);
  }
}

// What lies in a set's place, and under which name: the innermost archive
// or folder of the set's name decides; a backslash in a DAT name is '/'.
TEST(AuditInPlace, NameInTheSetsPlaceAndLooseFiles) {
  struct Case {
    const char* image;
    const char* set;
    const char* name;  // "" when not in the set's place
  };
  const Case cases[] = {
      {"roms/pacman.zip?pm.6e", "pacman", "pm.6e"},
      {"roms/pacman/sub/pm.6e", "pacman", "sub/pm.6e"},
      {"roms/pacman/sub/pm.6e", "sub", "pm.6e"},
      {"roms/pacman/sub/pm.6e", "roms\\pacman", "sub/pm.6e"},
      {"all.zip?pacman.zip?pm.6e", "pacman", "pm.6e"},
      {"all.zip?pacman.zip?pm.6e", "all", ""},  // in a nested archive of another name
      {"pacman.tar.gz?x", "pacman", "x"},
      {"roms/mspacman.zip?pm.6e", "pacman", ""},
      {"roms/pm.6e", "pacman", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " " + c.set);
    EXPECT_EQ(name_in_set(place_of(origin_of(c.image)), c.set), c.name);
  }
  EXPECT_TRUE(is_loose_as(place_of(origin_of("a/b/Game (World).lnx")), "Game (World).lnx"));
  EXPECT_TRUE(is_loose_as(place_of(origin_of("a/disc/t1.bin")), "disc\\t1.bin"));
  EXPECT_FALSE(is_loose_as(place_of(origin_of("a/x.zip?Game (World).lnx")), "Game (World).lnx"));
  EXPECT_FALSE(is_loose_as(place_of(origin_of("a/My Game (World).lnx")), "Game (World).lnx"));
  EXPECT_TRUE(in_set("roms/disc/sub/t1.bin", "disc", "sub\\t1.bin"));
}

const std::string sha1_x = "1111111111111111111111111111111111111111";
const std::string sha1_y = "2222222222222222222222222222222222222222";

const std::string test_dat =
    "<datafile><header><name>Test</name></header>\n"
    "<game name=\"whole\"><rom name=\"w1\" size=\"4\" crc=\"00000001\"/><rom name=\"w2\" size=\"4\" "
    "crc=\"00000002\"/></game>\n"
    "<game name=\"moved\"><rom name=\"m1\" size=\"4\" crc=\"00000003\"/><rom name=\"m2\" size=\"4\" "
    "crc=\"00000004\"/></game>\n"
    "<game name=\"half\"><rom name=\"h1\" size=\"4\" crc=\"00000005\"/><rom name=\"h2\" size=\"8\" "
    "crc=\"00000006\" sha1=\"" +
    sha1_x +
    "\"/><rom name=\"h3\" size=\"0\" status=\"nodump\"/></game>\n"
    "<game name=\"gone\"><rom name=\"g1\" size=\"4\" crc=\"00000007\"/></game>\n"
    "<game name=\"parent\"><rom name=\"p1\" size=\"4\" crc=\"00000008\"/></game>\n"
    "<game name=\"clone\" cloneof=\"parent\" romof=\"parent\"><rom name=\"c1\" size=\"4\" crc=\"00000009\"/>"
    "<rom name=\"p1\" merge=\"p1\" size=\"4\" crc=\"00000008\"/></game>\n"
    "<game name=\"cart\"><rom name=\"cart.nes\" size=\"32\" crc=\"0000000a\"/></game>\n"
    "<game name=\"empty\"><rom name=\"e\" size=\"1\" status=\"nodump\"/></game>\n"
    "</datafile>\n";

// The digest bytes of a hex text, kept for the images that point at them.
const uint8_t* digest_of(const std::string& hex) {
  static std::deque<std::vector<uint8_t>> kept;
  kept.emplace_back(hex.size() / 2);
  EXPECT_TRUE(parse_hex_bytes(hex, kept.back().data(), kept.back().size()));
  return kept.back().data();
}

AuditImage image(const char* name, uint64_t size, uint32_t crc, const std::string& sha1 = "") {
  static std::deque<Provenance> origins;
  origins.push_back(origin_of(name));
  return {&origins.back(), {size, crc, sha1.empty() ? nullptr : digest_of(sha1), nullptr, nullptr}, nullptr};
}

struct Audited {
  HeaderlessSummary headerless{32, 0x0000000a, {}};
  DatFile dat;
  std::vector<AuditImage> images;
  AuditResult result;
};

void audit_test_collection(Audited& audited) {
  DatError error{};
  ASSERT_TRUE(load_dat_memory(reinterpret_cast<const uint8_t*>(test_dat.data()), test_dat.size(), audited.dat, error))
      << error.line << ": " << error.reason;
  AuditImage headered = image("nes/Cart (E).nes", 48, 0x77777777);
  headered.headerless = &audited.headerless;
  audited.images = {
      image("whole.zip?w1", 4, 1),
      image("whole.zip?w2", 4, 2),
      image("loose/m1", 4, 3),
      image("moved/m2", 4, 4),
      image("other.zip?m1-copy", 4, 3),
      image("half/h1", 4, 5),
      image("half/h2", 8, 6, sha1_y),  // equal CRC, another SHA-1
      image("parent.zip?p1", 4, 8),
      image("parent.zip?c1", 4, 9),
      image("unknown.bin", 4, 0x12345678),
      headered,
  };
  ASSERT_TRUE(audit_images(&audited.dat, 1, audited.images.data(), audited.images.size(), audited.result));
}

TEST(AuditReport, ListsWhatIsLackingOrElsewhere) {
  Audited audited;
  audit_test_collection(audited);
  const std::string out = capture_stdout(
      [&] { print_audit(&audited.dat, 1, audited.images.data(), audited.images.size(), audited.result); });
  EXPECT_EQ(out,
            "partial moved (1 of 2 in place)\n"
            "  elsewhere m1: loose/m1\n"
            "partial half (1 of 2 in place)\n"
            "  wrong h2: half/h2 crc 00000006\n"
            "missing gone\n"
            "missing cart\n"
            "  elsewhere cart.nes: nes/Cart (E).nes\n"
            "unknown unknown.bin\n"
            "8 sets: 4 complete, 2 partial, 2 missing; 7 of 11 ROMs in place, 2 elsewhere; 1 unknown images; "
            "0 unreadable\n");
}

TEST(AuditReport, ImagesMatchingSeveralRomsAndNamesEscaped) {
  const std::string dat_text_bytes =
      "<datafile><game name=\"caf\xC3\xA9\"><rom name=\"a\" size=\"1\" crc=\"00000001\"/></game>"
      "<game name=\"b\"><rom name=\"a\" size=\"1\" crc=\"00000001\"/><rom name=\"x\" size=\"1\" "
      "crc=\"00000002\"/></game></datafile>";
  DatFile dat;
  DatError error{};
  ASSERT_TRUE(
      load_dat_memory(reinterpret_cast<const uint8_t*>(dat_text_bytes.data()), dat_text_bytes.size(), dat, error));
  // UTF-8 as stored; controls (C1 ones too), stray, cut and overlong bytes,
  // and surrogates as %XX.
  const std::vector<AuditImage> images = {
      image("b.zip?a", 1, 1), image("tab\there", 1, 7), image("\xE3\x83\x89\xF0\x9F\x8E\xAE ok", 1, 8),
      image("c1\xC2\x9B[2J nbsp\xC2\xA0", 1, 9), image("bad\xFF\xE3\x83 \xC0\xAF \xED\xA0\x80%", 1, 10)};
  AuditResult result;
  ASSERT_TRUE(audit_images(&dat, 1, images.data(), images.size(), result));
  const std::string out = capture_stdout([&] { print_audit(&dat, 1, images.data(), images.size(), result); });
  EXPECT_EQ(out,
            "missing caf\xC3\xA9\n"
            "  elsewhere a: b.zip?a\n"
            "partial b (1 of 2 in place)\n"
            "  missing x size 1 crc 00000002\n"
            "unknown tab%09here\n"
            "unknown \xE3\x83\x89\xF0\x9F\x8E\xAE ok\n"
            "unknown c1%C2%9B[2J nbsp\xC2\xA0\n"
            "unknown bad%FF%E3%83 %C0%AF %ED%A0%80%\n"
            "2 sets: 0 complete, 1 partial, 1 missing; 1 of 3 ROMs in place, 1 elsewhere; 4 unknown images; "
            "0 unreadable\n");
}

// A libretro-style DAT repeats a set's name for each alternative dump: one
// set, reported once by the alternative that fares best, counted once.
TEST(AuditReport, RepeatedSetNamesAreOneSetWithAlternatives) {
  const std::string text =
      "<datafile><header><name>Lynx</name></header>"
      "<game name=\"2048 (World)\"><rom name=\"2048 (World).bll\" size=\"4\" crc=\"00000001\"/></game>"
      "<game name=\"2048 (World)\"><rom name=\"2048 (World).lnx\" size=\"4\" crc=\"00000002\"/></game>"
      "<game name=\"Other\"><rom name=\"o.lnx\" size=\"4\" crc=\"00000004\"/></game>"
      "<game name=\"2048 (World)\"><rom name=\"2048 (World).lyx\" size=\"4\" crc=\"00000003\"/></game>"
      "<game name=\"Other\"><rom name=\"o.lyx\" size=\"4\" crc=\"00000005\"/></game>"
      "<game name=\"Third\"><rom name=\"t.a\" size=\"4\" crc=\"00000006\"/></game>"
      "<game name=\"Third\"><rom name=\"t.b\" size=\"4\" crc=\"00000007\"/>"
      "<rom name=\"t.c\" size=\"4\" crc=\"00000008\"/></game>"
      "<game name=\"Fourth\"><rom name=\"f.a\" size=\"4\" crc=\"00000009\"/></game>"
      "<game name=\"Fourth\"><rom name=\"f.b\" size=\"4\" crc=\"0000000a\"/></game></datafile>";
  DatFile dat;
  DatError error{};
  ASSERT_TRUE(load_dat_memory(reinterpret_cast<const uint8_t*>(text.data()), text.size(), dat, error));
  const std::vector<AuditImage> images = {image("2048 (World).zip?2048 (World).lnx", 4, 2),
                                          image("2048 (World).zip?2048 (World).lyx", 4, 3), image("Third/t.b", 4, 7),
                                          image("elsewhere/f.a", 4, 9), image("Fourth/f.b", 4, 10)};
  AuditResult result;
  ASSERT_TRUE(audit_images(&dat, 1, images.data(), images.size(), result));
  const std::string out = capture_stdout([&] { print_audit(&dat, 1, images.data(), images.size(), result); });
  EXPECT_EQ(out,
            "missing Other\n"
            "partial Third (1 of 2 in place)\n"
            "  missing t.c size 4 crc 00000008\n"
            "4 sets: 2 complete, 1 partial, 1 missing; 3 of 5 ROMs in place, 0 elsewhere; 0 unknown images; "
            "0 unreadable\n");
  DatFile fixdat;
  ASSERT_TRUE(build_fixdat(&dat, 1, result, fixdat));
  std::string sets;
  for (const DatSet& set : fixdat.sets) {
    sets += dat_text(fixdat, set.name);
    for (uint32_t k = 0; k < set.rom_count; ++k)
      sets += std::string(" ") + dat_text(fixdat, fixdat.roms[set.first_rom + k].name);
    sets += ";";
  }
  EXPECT_EQ(sets, "Other o.lnx;Third t.c;");
  // Only an alternative in place makes the set whole in place.
  const std::vector<AuditImage> placed = {images[0], images[2], image("Third/t.c", 4, 8), image("Other/o.lyx", 4, 5),
                                          images[4]};
  AuditResult all;
  ASSERT_TRUE(audit_images(&dat, 1, placed.data(), placed.size(), all));
  EXPECT_FALSE(any_rom_out_of_place(&dat, 1, all));
  EXPECT_TRUE(any_rom_out_of_place(&dat, 1, result));
}

TEST(AuditFixdat, HoldsOnlyTheMissingRomsAndReadsBack) {
  Audited audited;
  audit_test_collection(audited);
  DatFile fixdat;
  ASSERT_TRUE(build_fixdat(&audited.dat, 1, audited.result, fixdat));
  TempDir tree;
  const std::string path = tree.at("fix.dat");
  ASSERT_TRUE(write_dat_file(path.c_str(), fixdat, "fixdat: Test"));
  DatFile again;
  DatError error{};
  ASSERT_TRUE(load_dat_file(path.c_str(), again, error)) << error.reason;
  std::string sets;
  for (const DatSet& set : again.sets) {
    sets += dat_text(again, set.name);
    for (uint32_t k = 0; k < set.rom_count; ++k) {
      const DatRom& rom = again.roms[set.first_rom + k];
      sets += std::string(" ") + dat_text(again, rom.name) + ":" + std::to_string(rom.size) + ":" +
              std::to_string(rom.crc) + ":" + std::to_string(rom.fields);
    }
    sets += ";";
  }
  EXPECT_EQ(sets, "half h2:8:6:7;gone g1:4:7:3;");
  EXPECT_EQ(0, std::memcmp(again.roms[0].sha1, audited.dat.roms[5].sha1, dat_sha1_size));
  EXPECT_STREQ(dat_text(again, again.name), "fixdat: Test");
}

}  // namespace

namespace {

TEST(AuditDir2dat, SetsAreArchivesAndDirectoriesBelowThePathGiven) {
  struct Case {
    const char* image;  // levels separated by '|'
    const char* given;
    const char* set;  // null: the current folder's name
    const char* rom;
    bool in_place = true;  // read back as a DAT, the image lies in its set
  };
  const Case cases[] = {
      {"roms/a.bin", "roms", "roms", "a.bin"},
      {"roms//a.bin", "roms/", "roms", "a.bin"},
      {"roms//sub/a.bin", "roms/", "sub", "a.bin"},
      {"/abs/roms/a.bin", "/abs/roms", "roms", "a.bin"},
      {"roms/sub/deeper/a.bin", "roms", "sub/deeper", "a.bin"},
      {"roms/x.zip|a.bin", "roms", "x", "a.bin"},
      {"roms/x.ZIP|dir/a.bin", "roms", "x", "dir/a.bin"},
      {"x.zip|a.bin", "x.zip", "x", "a.bin"},
      {"/a.bin", "/", "a.bin", "a.bin", false},
      // The innermost archive is the set, whatever holds it.
      {"roms/x.zip|in.zip|a.bin", "roms", "in", "a.bin"},
      {"roms/x.7z|sub/in.tar.gz|a.bin", "roms", "sub/in", "a.bin"},
      {"roms/b.bin.gz|", "roms", "b.bin", "b.bin"},
      // A file given alone belongs to its folder.
      {"roms/set/a.bin", "roms/set/a.bin", "set", "a.bin"},
      {"a.bin", "a.bin", nullptr, "a.bin"},
      {"./a.bin", "./a.bin", nullptr, "a.bin"},
      // '?' is part of a name.
      {"roms/set/what?.bin", "roms", "set", "what?.bin"},
      {"roms/a?b.zip|c?d.7z|e?f.bin", "roms", "c?d", "e?f.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    const SetAndRom names = set_and_rom_of(origin_of(c.image, '|'), std::strlen(c.given));
    EXPECT_EQ(names.set, c.set != nullptr ? c.set : folder_name("."));
    EXPECT_EQ(names.rom, c.rom);
    EXPECT_EQ(in_set(c.image, names.set.c_str(), names.rom.c_str(), '|'), c.in_place);
  }
}

TEST(AuditDir2dat, WhatItWritesAuditsCompleteAndInPlace) {
  std::vector<AuditImage> images = {image("t/b/2.bin", 2, 22, sha1_x), image("t/a.zip?1.bin", 1, 11, sha1_y),
                                    image("t/b/1.bin", 1, 11, sha1_y), image("t/t.bin", 3, 33, sha1_x)};
  std::vector<CataloguedImage> catalogued;
  for (const AuditImage& made : images) catalogued.push_back({&made, 1, static_cast<int32_t>(catalogued.size())});
  DatFile dat;
  ASSERT_TRUE(build_dir2dat(catalogued.data(), catalogued.size(), false, false, dat));
  std::string sets;
  for (const DatSet& set : dat.sets) {
    sets += dat_text(dat, set.name);
    for (uint32_t k = 0; k < set.rom_count; ++k)
      sets += std::string(" ") + dat_text(dat, dat.roms[set.first_rom + k].name);
    sets += ";";
  }
  EXPECT_EQ(sets, "a 1.bin;b 1.bin 2.bin;t t.bin;");
  AuditResult result;
  ASSERT_TRUE(audit_images(&dat, 1, images.data(), images.size(), result));
  const std::string out = capture_stdout([&] { print_audit(&dat, 1, images.data(), images.size(), result); });
  EXPECT_EQ(
      out,
      "3 sets: 3 complete, 0 partial, 0 missing; 4 of 4 ROMs in place, 0 elsewhere; 0 unknown images; 0 unreadable\n");
}

// Containers of one name: the one the walk reached first keeps it, the
// others take more of their path, in walk order whatever the listing's
// order, or a number when their whole path is taken.
TEST(AuditDir2dat, ContainersOfOneNameGetSetsOfTheirOwn) {
  const std::vector<AuditImage> images = {image("t/a/3.bin", 4, 44), image("t/a.zip?1.bin", 1, 11),
                                          image("t/a.7z?1.bin", 1, 11), image("u/a.zip?2.bin", 2, 22)};
  const int32_t walk_orders[] = {2, 0, 1, 3};
  std::vector<CataloguedImage> catalogued;
  for (size_t k = 0; k < images.size(); ++k) catalogued.push_back({&images[k], 1, walk_orders[k]});
  DatFile dat;
  ASSERT_TRUE(build_dir2dat(catalogued.data(), catalogued.size(), false, false, dat));
  std::string sets;
  for (const DatSet& set : dat.sets) {
    sets += dat_text(dat, set.name);
    for (uint32_t k = 0; k < set.rom_count; ++k)
      sets += std::string(" ") + dat_text(dat, dat.roms[set.first_rom + k].name);
    sets += ";";
  }
  EXPECT_EQ(sets, "a 1.bin;a (2) 3.bin;t/a 1.bin;u/a 2.bin;");
}

}  // namespace
