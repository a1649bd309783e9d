// The rebuild's files: which existing archives are kept, which entries a
// set does not hold, the folder form, and the leftovers of a killed run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "rebuild/set_writing.h"
#include "rebuild/temp_names.h"
#include "rebuild/torrentzip_check.h"
#include "support/rom_sources.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"
#include "support/zip_builder.h"

namespace {

struct FolderFd {
  int fd;
  explicit FolderFd(const std::string& path) : fd(open(path.c_str(), O_RDONLY | O_DIRECTORY)) {}
  ~FolderFd() { close(fd); }
};

std::vector<TestRom> sample_roms() {
  std::vector<TestRom> roms(3);
  roms[0].name = "a.bin";
  roms[0].bytes = random_bytes(3000, 1);
  roms[1].name = "Sub/b.bin";
  roms[1].bytes = text_bytes(5000);
  roms[2].name = "c.bin";
  return roms;
}

bool exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

}  // namespace

// Only the TorrentZip form of exactly the set's ROMs is kept: any byte
// outside the compressed data that differs, or any ROM more, less or
// different, and the archive is rewritten.
TEST(TorrentZipCheck, KeepsOnlyTheExactFormOfTheSetsRoms) {
  const std::vector<TestRom> roms = sample_roms();
  TempDir out;
  FolderFd folder(out.path);
  {
    const std::vector<RebuildRom> records = rebuild_roms_of(roms);
    RebuildError error{};
    ASSERT_TRUE(write_torrentzip_file(folder.fd, "set.zip", records.data(), records.size(), error));
  }
  const std::string written = read_file(out.at("set.zip"));
  const uint32_t directory_offset = load_u32(reinterpret_cast<const uint8_t*>(written.data()) + written.size() - 28);
  using Change = std::function<void(std::string&, std::vector<TestRom>&)>;
  struct Case {
    const char* what;
    Change change;
    bool kept;
  };
  const Case cases[] = {
      {"unchanged", [](std::string&, std::vector<TestRom>&) {}, true},
      {"ROMs listed in another order", [](std::string&, std::vector<TestRom>& r) { std::swap(r[0], r[2]); }, true},
      {"a byte after", [](std::string& z, std::vector<TestRom>&) { z += 'x'; }, false},
      {"a byte before", [](std::string& z, std::vector<TestRom>&) { z = "x" + z; }, false},
      {"the comment's CRC", [](std::string& z, std::vector<TestRom>&) { z.back() = z.back() == '0' ? '1' : '0'; },
       false},
      {"a local header's time", [](std::string& z, std::vector<TestRom>&) { put_u16(z, 10, 0); }, false},
      {"a central record's attributes",
       [directory_offset](std::string& z, std::vector<TestRom>&) { put_u32(z, directory_offset + 38, 0x81A40000); },
       false},
      {"a ROM more", [](std::string&, std::vector<TestRom>& r) { r.push_back(r[0]), r.back().name = "d.bin"; }, false},
      {"a ROM less", [](std::string&, std::vector<TestRom>& r) { r.pop_back(); }, false},
      {"a ROM's CRC", [](std::string&, std::vector<TestRom>& r) { r[0].bytes[7] ^= 1; }, false},
      {"a ROM's size", [](std::string&, std::vector<TestRom>& r) { r[2].bytes = std::string(1, '1'); }, false},
      {"a name's case", [](std::string&, std::vector<TestRom>& r) { r[0].name = "A.bin"; }, false},
      {"another writer's zip of the same ROMs",
       [](std::string& z, std::vector<TestRom>& r) {
         z = build_zip(zip_of({deflated_entry(r[0].name, r[0].bytes), deflated_entry(r[1].name, r[1].bytes),
                               deflated_entry(r[2].name, r[2].bytes)}));
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string archive = written;
    std::vector<TestRom> expected = roms;
    c.change(archive, expected);
    out.write("check.zip", archive);
    const std::vector<RebuildRom> records = rebuild_roms_of(expected);
    EXPECT_EQ(is_torrentzip_file_of(folder.fd, "check.zip", records.data(), records.size()), c.kept);
  }
  EXPECT_FALSE(is_torrentzip_file_of(folder.fd, "missing.zip", nullptr, 0));
}

// An entry is foreign when no ROM of the set has its size and CRC-32,
// whatever its name: a ROM under another name is not lost by a rewrite.
TEST(TorrentZipCheck, ListsTheEntriesTheSetDoesNotHold) {
  const std::vector<TestRom> roms = sample_roms();
  const std::vector<RebuildRom> records = rebuild_roms_of(roms);
  const std::string archive =
      build_zip(zip_of({stored_entry("a.bin", roms[0].bytes), stored_entry("folder/", ""),
                        deflated_entry("renamed.bin", roms[1].bytes), stored_entry("other.bin", "not in the set"),
                        stored_entry("a.bin", roms[0].bytes + "!"), stored_entry("empty.bin", "")}));
  ZipArchive opened{};
  ASSERT_TRUE(zip_open_memory(opened, archive.data(), archive.size()));
  GrowArray<uint32_t> foreign;
  ASSERT_TRUE(list_foreign_entries(opened, records.data(), records.size(), foreign));
  zip_close(opened.reader);
  ASSERT_EQ(foreign.count, 2u);
  EXPECT_EQ(foreign[0], 3u);
  EXPECT_EQ(foreign[1], 4u);
}

// The folder form: each ROM a plain file under the set's folder, the
// folders its name holds made, an older file of its name replaced; a name
// that would leave the folder is refused before anything is made.
TEST(RomFolder, WritesEachRomAsAPlainFileInsideTheSet) {
  TempDir out;
  out.write("set/Sub/b.bin", "an older file");
  FolderFd folder(out.path);
  const std::vector<TestRom> roms = sample_roms();
  const std::vector<RebuildRom> records = rebuild_roms_of(roms);
  RebuildError error{};
  ASSERT_TRUE(write_rom_folder(folder.fd, "set", records.data(), records.size(), error));
  for (const TestRom& rom : roms) EXPECT_TRUE(read_file(out.at("set/" + rom.name)) == rom.bytes) << rom.name;
  EXPECT_TRUE(exists(out.at("set/c.bin")));
  EXPECT_TRUE(leftover_names(out.at("set")).empty());
  EXPECT_TRUE(leftover_names(out.at("set/Sub")).empty());

  struct Case {
    const char* set;
    const char* rom;
  };
  const Case unsafe[] = {{"..", "a.bin"},      {"a/b", "a.bin"},    {"", "a.bin"},
                         {"new", "../a.bin"},  {"new", "/a.bin"},   {"new", "x//a"},
                         {"new", "x/./a.bin"}, {"new", "x\\a.bin"}, {"new", ""}};
  for (const Case& c : unsafe) {
    SCOPED_TRACE(std::string(c.set) + " " + c.rom);
    std::vector<TestRom> one(1);
    one[0].name = c.rom;
    one[0].bytes = "bytes";
    const std::vector<RebuildRom> record = rebuild_roms_of(one);
    EXPECT_FALSE(write_rom_folder(folder.fd, c.set, record.data(), record.size(), error));
    EXPECT_EQ(error.failure, RebuildFailure::UnsafeName);
    EXPECT_FALSE(exists(out.at("new")));
    EXPECT_FALSE(exists(out.at("a.bin")));
  }
}

// Only regular files named with the temporary prefix go, in the folder and
// below it; a link is not followed, other names stay.
TEST(RebuildLeftovers, RemovesOnlyTemporaryFilesOfEarlierRuns) {
  TempDir outside;
  outside.write(".imgchk-tmp-9-9", "not ours: outside the output folder");
  TempDir out;
  const char* const removed[] = {".imgchk-tmp-1-0", "set/.imgchk-tmp-2-5", "set/deep/er/.imgchk-tmp-3-1"};
  const char* const kept[] = {"set.zip", "keep.imgchk-tmp-1", "set/.imgchk-tmp", "set/a.bin",
                              ".imgchk-tmp-folder/inside.bin"};
  for (const char* name : removed) out.write(name, "partial");
  for (const char* name : kept) out.write(name, "kept");
  ASSERT_EQ(symlink(outside.path.c_str(), out.at("link").c_str()), 0);
  ASSERT_EQ(symlink(outside.at(".imgchk-tmp-9-9").c_str(), out.at(".imgchk-tmp-link").c_str()), 0);
  FolderFd folder(out.path);
  int error_number = 0;
  ASSERT_TRUE(remove_rebuild_leftovers(folder.fd, error_number)) << error_number;
  for (const char* name : removed) EXPECT_FALSE(exists(out.at(name))) << name;
  for (const char* name : kept) EXPECT_TRUE(exists(out.at(name))) << name;
  EXPECT_TRUE(exists(out.at(".imgchk-tmp-link")));
  EXPECT_TRUE(exists(outside.at(".imgchk-tmp-9-9")));
}
