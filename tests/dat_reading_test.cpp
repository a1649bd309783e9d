// Reading DATs: every dialect and packing to the same records, the hostile
// ones refused with a line and a reason, and nothing outside the file read.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "dat/dat_loading.h"
#include "dat/utf16_decoder.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"

namespace {

// The records of a DAT, one line a set or ROM, for comparing whole loads.
std::string describe(const DatFile& dat) {
  std::string text = "name=" + std::string(dat_text(dat, dat.name)) + " disks=" + std::to_string(dat.disk_count) + "\n";
  for (const DatSet& set : dat.sets) {
    text += "set " + std::string(dat_text(dat, set.name));
    if (set.cloneof != 0) text += " cloneof=" + std::string(dat_text(dat, set.cloneof));
    if (set.romof != 0) text += " romof=" + std::string(dat_text(dat, set.romof));
    if (set.description != 0) text += " \"" + std::string(dat_text(dat, set.description)) + "\"";
    text += "\n";
    for (uint32_t k = 0; k < set.rom_count; ++k) {
      const DatRom& rom = dat.roms[set.first_rom + k];
      char line[160];
      std::snprintf(line, sizeof line,
                    "  %s size=%" PRIu64 " crc=%08" PRIx32 " sha1=%02x.. md5=%02x.. sha256=%02x.. fields=%d status=%d",
                    dat_text(dat, rom.name), rom.size, rom.crc, rom.sha1[0], rom.md5[0], rom.sha256[0], rom.fields,
                    static_cast<int>(rom.status));
      text += line;
      if (rom.merge != 0) text += " merge=" + std::string(dat_text(dat, rom.merge));
      text += "\n";
    }
    for (uint32_t k = 0; k < set.disk_count; ++k) {
      const DatDisk& disk = dat.disks[set.first_disk + k];
      char line[160];
      std::snprintf(line, sizeof line, "  disk %s sha1=%02x..%02x fields=%d status=%d", dat_text(dat, disk.name),
                    disk.sha1[0], disk.sha1[19], disk.fields, static_cast<int>(disk.status));
      text += line;
      if (disk.merge != 0) text += " merge=" + std::string(dat_text(dat, disk.merge));
      text += "\n";
    }
  }
  return text;
}

struct Loaded {
  bool ok;
  std::string records;
  uint64_t line;
  std::string reason;
};

Loaded load(const std::string& bytes) {
  DatFile dat;
  DatError error{};
  const bool ok = load_dat_memory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), dat, error);
  return {ok, ok ? describe(dat) : "", error.line, error.reason};
}

std::string gzip_bytes(const std::string& raw) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&stream, raw.size()) + 32, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// UTF-8 text as UTF-16 in either byte order, with a byte order mark.
std::string utf16_bytes(const std::string& utf8, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  auto put_unit = [&](uint32_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    out += big_endian ? std::string{high, low} : std::string{low, high};
  };
  for (size_t k = 0; k < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[k]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t code_point = length == 1 ? lead : lead & (0x3F >> (length - 1));
    for (size_t m = 1; m < length; ++m) code_point = code_point << 6 | (static_cast<unsigned char>(utf8[k + m]) & 0x3F);
    k += length;
    if (code_point < 0x10000) {
      put_unit(code_point);
    } else {
      put_unit(0xD800 + ((code_point - 0x10000) >> 10));
      put_unit(0xDC00 + ((code_point - 0x10000) & 0x3FF));
    }
  }
  return out;
}

std::string repeated(const std::string& piece, size_t count) {
  std::string out;
  for (size_t k = 0; k < count; ++k) out += piece;
  return out;
}

const std::string sha1_a = "0123456789abcdef0123456789abcdef01234567";
const std::string md5_a = "fedcba9876543210fedcba9876543210";

// The same two sets in every dialect.
const std::string logiqx =
    "<?xml version=\"1.0\"?>\n"
    "<!DOCTYPE datafile PUBLIC \"-//Logiqx//DTD ROM Management Datafile//EN\" "
    "\"http://www.logiqx.com/Dats/datafile.dtd\">\n"
    "<datafile>\n"
    "  <header><name>Test &amp; Co</name><clrmamepro header=\"nes.xml\"/></header>\n"
    "  <game name=\"Parent\"><description>The parent</description>\n"
    "    <rom name=\"a.bin\" size=\"16\" crc=\"DEADBEEF\" sha1=\"" +
    sha1_a + "\" md5=\"" + md5_a +
    "\"/>\n"
    "    <rom name=\"b.bin\" size=\"0\" status=\"nodump\"/>\n"
    "  </game>\n"
    "  <machine name=\"Clone\" cloneof=\"Parent\" romof=\"Parent\" unknown=\"x\"><unknown/>\n"
    "    <rom name=\"c.bin\" size=\"1024\" crc=\"00000001\" merge=\"a.bin\" status=\"baddump\"/>\n"
    "    <disk name=\"hd\" sha1=\"" +
    sha1_a +
    "\" merge=\"hd\" region=\"ide\"/>\n"
    "    <disk name=\"spare\" status=\"nodump\"/>\n"
    "  </machine>\n"
    "</datafile>\n";

const std::string logiqx_records =
    "name=Test & Co disks=2\n"
    "set Parent \"The parent\"\n"
    "  a.bin size=16 crc=deadbeef sha1=01.. md5=fe.. sha256=00.. fields=23 status=0\n"
    "  b.bin size=0 crc=00000000 sha1=00.. md5=00.. sha256=00.. fields=33 status=3\n"
    "set Clone cloneof=Parent romof=Parent\n"
    "  c.bin size=1024 crc=00000001 sha1=00.. md5=00.. sha256=00.. fields=35 status=2 merge=a.bin\n"
    "  disk hd sha1=01..67 fields=4 status=0 merge=hd\n"
    "  disk spare sha1=00..00 fields=32 status=3\n";

const std::string clrmamepro_text =
    "clrmamepro (\n\tname \"Test & Co\"\n\theader nes.xml\n\tforcemerging split\n)\n\n"
    "game (\n\tname Parent\n\tdescription \"The parent\"\n\trelease ( name x region EUR )\n"
    "\trom ( name a.bin size 16 crc deadbeef md5 " +
    md5_a + " sha1 " + sha1_a +
    " )\n"
    "\trom ( name b.bin size 0 nodump )\n)\n"
    "resource ( name Clone cloneof Parent romof Parent\n"
    "\trom ( name c.bin size 1024 crc32 00000001 merge a.bin flags baddump )\n"
    "\tdisk ( name hd sha1 " +
    sha1_a + " merge hd region ide )\n\tdisk ( name spare nodump )\n)\n";

TEST(DatReading, EveryDialectAndPackingGivesTheSameRecords) {
  const std::string zipped =
      build_zip(zip_of({stored_entry("readme.txt", "not this"), deflated_entry("sets.DAT", logiqx)}));
  struct Case {
    const char* label;
    std::string bytes;
  };
  const Case cases[] = {
      {"Logiqx", logiqx},
      {"with a byte order mark", "\xEF\xBB\xBF" + logiqx},
      {"clrmamepro text", clrmamepro_text},
      {"gzip", gzip_bytes(logiqx)},
      {"gzip of two members", gzip_bytes(logiqx.substr(0, 100)) + gzip_bytes(logiqx.substr(100))},
      {"zip, first *.dat entry", zipped},
      {"zipped text", build_zip(zip_of({deflated_entry("x.xml", clrmamepro_text)}))},
      {"UTF-16LE with a mark", utf16_bytes(logiqx, false)},
      {"UTF-16BE with a mark, declared UTF-16",
       utf16_bytes("<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + logiqx.substr(21), true)},
      {"UTF-8 mark, declared UTF-16", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + logiqx.substr(21)},
      {"text with a UTF-8 mark", "\xEF\xBB\xBF" + clrmamepro_text},
      {"text, UTF-16LE with a mark", utf16_bytes(clrmamepro_text, false)},
      {"text, UTF-16BE with a mark", utf16_bytes(clrmamepro_text, true)},
      {"UTF-16 text in gzip members cut inside a character",
       gzip_bytes(utf16_bytes(clrmamepro_text, true).substr(0, 1)) +
           gzip_bytes(utf16_bytes(clrmamepro_text, true).substr(1, 100)) +
           gzip_bytes(utf16_bytes(clrmamepro_text, true).substr(101))},
      {"declared attribute defaults ignored",
       "<!DOCTYPE datafile [\n<!ELEMENT datafile (header?, game*)>\n"
       "<!ATTLIST rom status (good|baddump) \"baddump\" size CDATA \"99\" merge CDATA \"x\">\n"
       "<!ATTLIST game cloneof CDATA \"Other\">\n]>\n" +
           logiqx.substr(logiqx.find("<datafile>"))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Loaded loaded = load(c.bytes);
    EXPECT_TRUE(loaded.ok) << loaded.line << ": " << loaded.reason;
    EXPECT_EQ(loaded.records, logiqx_records);
  }
}

TEST(DatReading, NoIntroAndListXmlFlavours) {
  const std::string sha256 = std::string(62, 'a') + "bc";
  struct Case {
    const char* label;
    std::string bytes;
    std::string records;
  };
  const Case cases[] = {
      {"No-Intro with numeric parent ids",
       "<?xml version=\"1.0\"?><datafile><header><id>7</id><name>Nintendo - NES</name>"
       "<clrmamepro forcenodump=\"required\"/></header>"
       "<game name=\"Clone (E)\" id=\"0002\" cloneofid=\"0001\"><rom name=\"c.nes\" size=\"8\" crc=\"0000000a\" "
       "sha256=\"" +
           sha256 +
           "\" status=\"verified\" serial=\"X\" header=\"4E 45\"/></game>"
           "<game name=\"Parent (U)\" id=\"0001\"><rom name=\"p.nes\" size=\"8\" crc=\"0000000b\"/></game>"
           "<game name=\"Orphan\" id=\"0003\" cloneofid=\"0099\"/>"
           "</datafile>",
       "name=Nintendo - NES disks=0\n"
       "set Clone (E) cloneof=Parent (U)\n"
       "  c.nes size=8 crc=0000000a sha1=00.. md5=00.. sha256=aa.. fields=43 status=1\n"
       "set Parent (U)\n"
       "  p.nes size=8 crc=0000000b sha1=00.. md5=00.. sha256=00.. fields=3 status=0\n"
       "set Orphan\n"},
      {"MAME -listxml",
       "<?xml version=\"1.0\"?>\n<!DOCTYPE mame [\n<!ELEMENT mame (machine+)>\n<!ATTLIST mame build CDATA "
       "#IMPLIED>\n]>\n"
       "<mame build=\"0.250\" debug=\"no\">\n"
       "<machine name=\"pacman\" sourcefile=\"pacman.cpp\"><description>Pac-Man</description>"
       "<rom name=\"pm.6e\" size=\"4096\" crc=\"c1e6ab10\" sha1=\"" +
           sha1_a +
           "\" region=\"maincpu\" offset=\"0\"/>"
           "<rom name=\"bad\" size=\"32\" status=\"nodump\"/>"
           "<disk name=\"d\" sha1=\"" +
           sha1_a +
           "\"/><disk name=\"e\"/><driver status=\"good\"/></machine>\n"
           "</mame>\n",
       "name=0.250 disks=2\n"
       "set pacman \"Pac-Man\"\n"
       "  pm.6e size=4096 crc=c1e6ab10 sha1=01.. md5=00.. sha256=00.. fields=7 status=0\n"
       "  bad size=32 crc=00000000 sha1=00.. md5=00.. sha256=00.. fields=33 status=3\n"
       "  disk d sha1=01..67 fields=4 status=0\n"
       "  disk e sha1=00..00 fields=0 status=0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Loaded loaded = load(c.bytes);
    EXPECT_TRUE(loaded.ok) << loaded.line << ": " << loaded.reason;
    EXPECT_EQ(loaded.records, c.records);
  }
}

TEST(DatReading, RefusesMalformedAndHostileDats) {
  const std::string laughs =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n"
      " <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
      " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
      "]>\n<datafile><game name=\"&lol3;\"/></datafile>\n";
  const std::string head = "<datafile>\n<game name=\"g\">\n";
  auto rom = [&](const std::string& attributes) { return head + "<rom " + attributes + "/>\n</game></datafile>"; };
  struct Case {
    const char* label;
    std::string bytes;
    uint64_t line;
    std::string reason;
  };
  const Case cases[] = {
      {"billion laughs", laughs, 3, "entity declarations are refused"},
      {"external entity", "<!DOCTYPE d [<!ENTITY x SYSTEM \"/etc/passwd\">]><datafile>&x;</datafile>", 1,
       "entity declarations are refused"},
      {"parameter entity", "<!DOCTYPE d [<!ENTITY % p SYSTEM \"http://example.invalid/x\"> %p;]><datafile/>", 1,
       "entity declarations are refused"},
      {"truncated XML", head + "<rom name=\"a\" size=\"1\" crc=\"00000000\"/>\n</ga", 4, "unclosed token"},
      {"no element", "<?xml version=\"1.0\"?>\n", 2, "no element found"},
      {"overlong attribute", rom("name=\"" + std::string(3 << 20, 'x') + "\""), 3,
       "element, attribute or comment too long"},
      {"attribute over the kept size", rom("name=\"" + std::string(70000, 'x') + "\" size=\"1\""), 3,
       "attribute name too long"},
      {"size with a letter", rom("name=\"a\" size=\"12a\" crc=\"00000000\""), 3, "size \"12a\" is not a number"},
      {"negative size", rom("name=\"a\" size=\"-1\" crc=\"00000000\""), 3, "size \"-1\" is not a number"},
      {"huge size", rom("name=\"a\" size=\"99999999999999999999\" crc=\"00000000\""), 3,
       "size \"99999999999999999999\" is out of range"},
      {"size that wraps to 5", rom("name=\"a\" size=\"18446744073709551621\" crc=\"00000000\""), 3,
       "size \"18446744073709551621\" is out of range"},
      {"size just past 2^62", rom("name=\"a\" size=\"4611686018427387905\" crc=\"00000000\""), 3,
       "size \"4611686018427387905\" is out of range"},
      {"long size with a letter", rom("name=\"a\" size=\"184467440737095516210x\""), 3,
       "size \"184467440737095516210x\" is not a number"},
      {"nested too deep", "<datafile>" + repeated("<a>", 200000), 1, "elements nested too deep"},
      {"nested too deep inside a set", head + "<rom name=\"a\" size=\"1\">\n" + repeated("<x>\n", 100), 65,
       "elements nested too deep"},
      {"too many declared attributes",
       "<!DOCTYPE datafile [\n" + repeated("<!ATTLIST game a CDATA \"b\">\n", 513) + "]><datafile/>", 514,
       "the document type declares too many attributes"},
      {"overlong declared defaults",
       "<!DOCTYPE datafile [\n<!ATTLIST game a CDATA \"" + std::string(70000, 'b') + "\">\n]><datafile/>", 2,
       "the document type declares too many attributes"},
      {"short crc", rom("name=\"a\" size=\"1\" crc=\"1234567\""), 3, "crc \"1234567\" is not 8 hex digits"},
      {"crc not hex", rom("name=\"a\" size=\"1\" crc=\"1234567g\""), 3, "crc \"1234567g\" is not 8 hex digits"},
      {"short sha1", rom("name=\"a\" size=\"1\" sha1=\"abc\""), 3, "sha1 \"abc\" is not 40 hex digits"},
      {"rom without name", rom("size=\"1\" crc=\"00000000\""), 3, "rom without a name"},
      {"rom without size", rom("name=\"a\" crc=\"00000000\""), 3, "rom without a size"},
      {"disk without name", head + "<disk sha1=\"" + std::string(40, '0') + "\"/>\n</game></datafile>", 3,
       "disk without a name"},
      {"short disk sha1", head + "<disk name=\"d\" sha1=\"12\"/>\n</game></datafile>", 3,
       "sha1 \"12\" is not 40 hex digits"},
      {"text: disk sha1 not hex", "game (\n name g\n disk ( name d sha1 xyz )\n)\n", 3,
       "sha1 \"xyz\" is not 40 hex digits"},
      {"set without name", "<datafile>\n<game>\n</game></datafile>", 2, "set without a name"},
      {"other root", "<html><game name=\"x\"/></html>", 1, "not a DAT: the root element is <html>"},
      {"empty", " \n\t", 0, "empty file"},
      {"text: bad size", "game (\n name g\n rom ( name a size 1x crc 00000000 )\n)\n", 3,
       "size \"1x\" is not a number"},
      {"text: size that wraps to 5", "game (\n name g\n rom ( name a\n size 18446744073709551621 )\n)\n", 4,
       "size \"18446744073709551621\" is out of range"},
      {"text: NUL in a set name", "game (\n name g\n)\ngame (\n name \"a" + std::string(1, '\0') + "b\"\n)\n", 5,
       "set name holds a NUL byte"},
      {"text: NUL in a parent's name", "game ( name g\n cloneof a" + std::string(1, '\0') + " )", 2,
       "set cloneof holds a NUL byte"},
      {"text: NUL in the DAT's name", "clrmamepro ( name " + std::string(1, '\0') + " )", 1,
       "header name holds a NUL byte"},
      {"text: NUL in a merge name", "game ( name g rom ( name a size 1 merge " + std::string(1, '\0') + " ) )", 1,
       "rom merge holds a NUL byte"},
      {"text: NUL in UTF-16",
       utf16_bytes("game (\n name \"a", false) + std::string(2, '\0') + utf16_bytes("\"\n)", false).substr(2), 2,
       "set name holds a NUL byte"},
      {"text: nested too deep", "game ( name g\n x" + repeated(" (", 100), 2, "blocks nested too deep"},
      {"UTF-16: odd number of bytes", utf16_bytes("game ( name g )\n", false) + "x", 2,
       "UTF-16 text has an odd number of bytes"},
      {"UTF-16: high surrogate alone", utf16_bytes("game (\n", true) + std::string("\xD8\x00\x00\x61", 4), 2,
       "UTF-16 text holds an unpaired surrogate"},
      {"UTF-16: low surrogate alone", utf16_bytes("\n", false) + std::string("\x00\xDC", 2), 2,
       "UTF-16 text holds an unpaired surrogate"},
      {"UTF-16: cut inside a pair", utf16_bytes("<datafile/>\n\n", false) + "\x3D\xD8", 3,
       "UTF-16 text holds an unpaired surrogate"},
      {"text: block not closed", "game ( name g\n rom ( name a size 1 crc 00000000 )\n", 3,
       "block not closed at the end"},
      {"text: quoted string not closed", "game ( name \"g\n)", 1, "quoted string not closed on its line"},
      {"text: stray close", "game ( name g )\n)\n", 2, "\")\" without a block to close"},
      {"text: missing open", "game name g", 1, "\"(\" expected"},
      {"text: set without a name", "\n\ngame ( rom ( name a size 1 crc 00000000 ) )", 3, "set without a name"},
      {"text: no blocks", "hello", 1, "block not closed at the end"},
      {"damaged gzip", gzip_bytes(logiqx).substr(0, 40), 0, "gzip data cut short"},
      {"zip without a DAT", build_zip(zip_of({stored_entry("a.txt", "x")})), 0,
       "no entry named *.dat or *.xml in the zip archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Loaded loaded = load(c.bytes);
    EXPECT_FALSE(loaded.ok);
    EXPECT_EQ(loaded.line, c.line);
    EXPECT_EQ(loaded.reason, c.reason);
  }
}

// Pieces may end inside a code unit or between the halves of a pair, and
// the output may have room for only one character at a time.
TEST(DatReading, Utf16DecodesWhereverPiecesEnd) {
  const std::string text = "a\xC3\xA9\n\xE2\x82\xAC\xF0\x9F\x98\x80z\n";
  for (const bool big_endian : {false, true}) {
    const std::string encoded = utf16_bytes(text, big_endian).substr(2);
    for (size_t cut = 0; cut <= encoded.size(); ++cut) {
      for (const size_t out_size : {min_utf16_output_size, size_t{64}}) {
        SCOPED_TRACE(std::to_string(cut) + (big_endian ? " BE" : " LE") + " room " + std::to_string(out_size));
        Utf16Decoder decoder{big_endian, false, 0, 0, 1};
        std::string decoded;
        const auto* bytes = reinterpret_cast<const uint8_t*>(encoded.data());
        for (const auto* end : {bytes + cut, bytes + encoded.size()}) {
          while (bytes != end) {
            uint8_t out[64];
            size_t made = 0;
            ASSERT_TRUE(decode_utf16(decoder, bytes, end, out, out_size, made));
            decoded.append(reinterpret_cast<char*>(out), made);
          }
        }
        EXPECT_EQ(decoded, text);
        EXPECT_EQ(decoder.line, 3u);
        EXPECT_FALSE(decoder.has_odd_byte || decoder.high_surrogate != 0);
      }
    }
  }
}

TEST(DatReading, NeverReadsAnExternalDtd) {
  TempDir tree;
  const std::string dtd = tree.write("evil.dtd", "<!ENTITY secret \"from the DTD\">\n<!ENTITY % p \"x\">\n");
  const std::string dat = tree.write("a.dat", "<?xml version=\"1.0\"?>\n<!DOCTYPE datafile SYSTEM \"" + dtd +
                                                  "\">\n"
                                                  "<datafile><game name=\"g\"><description>[&secret;]</description>"
                                                  "<rom name=\"a\" size=\"1\" crc=\"00000000\"/></game></datafile>\n");
  DatFile loaded;
  DatError error{};
  ASSERT_TRUE(load_dat_file(dat.c_str(), loaded, error)) << error.reason;
  EXPECT_EQ(describe(loaded),
            "name= disks=0\nset g \"[]\"\n  a size=1 crc=00000000 sha1=00.. md5=00.. sha256=00.. fields=3 status=0\n");
}

TEST(DatReading, FileErrorsNameTheCause) {
  TempDir tree;
  DatFile dat;
  DatError missing{};
  EXPECT_FALSE(load_dat_file(tree.at("none.dat").c_str(), dat, missing));
  EXPECT_EQ(std::string(missing.reason), "No such file or directory");
  DatError directory{};
  EXPECT_FALSE(load_dat_file(tree.path.c_str(), dat, directory));
  EXPECT_EQ(std::string(directory.reason), "not a regular file");
}

}  // namespace
