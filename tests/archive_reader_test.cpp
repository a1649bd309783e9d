// The libarchive reader on archives that real tools write here: from a
// file and from memory, every compression of tar, gzip images named after
// their files, RAR in both layouts, and why what fails fails. Skipped
// where a tool is missing.
#include "archive/archive_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "archive/archive_kind.h"
#include "support/rar_builder.h"
#include "support/run_imgchk.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"

namespace {

bool has_tools(const std::string& names) {
  return run_program("sh", {"-c", "for t in " + names + "; do command -v $t >/dev/null || exit 1; done"}).status == 0;
}

void run_in(const TempDir& dir, const std::string& command) {
  const RunResult result = run_program("sh", {"-c", command}, dir.path);
  ASSERT_EQ(result.status, 0) << command << "\n" << result.err;
}

struct ReadEntry {
  std::string name;
  std::string bytes;
  bool read;
  ArchiveFailure failure;
};

struct ReadArchive {
  bool opened = false;
  ArchiveFailure open_failure = ArchiveFailure::None;
  std::vector<ReadEntry> entries;
  bool ended = false;  // reached the end, rather than a header that failed
};

// Reads the current entry whole; the size recorded must be the size read.
ReadEntry read_entry(ArchiveReader& reader, const ArchiveEntryInfo& info) {
  ReadEntry entry{info.name, "", true, ArchiveFailure::None};
  std::vector<uint8_t> piece(1000);  // small pieces, so that entries take many
  for (;;) {
    size_t size = 0;
    if (!archive_read_piece(reader, piece.data(), piece.size(), size)) {
      entry.read = false;
      entry.failure = reader.failure;
      return entry;
    }
    if (size == 0) break;
    entry.bytes.append(reinterpret_cast<const char*>(piece.data()), size);
  }
  if (info.size_known) {
    EXPECT_EQ(entry.bytes.size(), info.size) << info.name;
  }
  return entry;
}

// Every entry in order; after a failure that broke the handle, the reader
// is opened again past that entry, as the walker does.
ReadArchive read_archive(ArchiveReader& reader, bool opened) {
  ReadArchive result;
  result.opened = opened;
  if (!opened) {
    result.open_failure = reader.failure;
    return result;
  }
  ArchiveEntryInfo info{};
  for (;;) {
    const ArchiveStep step = archive_next_entry(reader, info);
    if (step == ArchiveStep::End) result.ended = true;
    if (step != ArchiveStep::Entry) break;
    result.entries.push_back(read_entry(reader, info));
    if (reader.broken && !archive_reopen_after(reader, info.index)) break;
  }
  archive_close(reader);
  return result;
}

ReadArchive read_file_archive(const std::string& path) {
  ArchiveReader reader{};
  const int fd = open(path.c_str(), O_RDONLY);
  const uint64_t size = read_file(path).size();
  return read_archive(reader, archive_open_descriptor(reader, archive_kind_of(path.c_str()), fd, size, path.c_str()));
}

ReadArchive read_memory_archive(const std::string& path, const std::string& bytes) {
  ArchiveReader reader{};
  return read_archive(
      reader, archive_open_memory(reader, archive_kind_of(path.c_str()), bytes.data(), bytes.size(), path.c_str()));
}

std::map<std::string, std::string> bytes_by_name(const ReadArchive& archive) {
  std::map<std::string, std::string> found;
  for (const ReadEntry& entry : archive.entries) {
    EXPECT_TRUE(entry.read) << entry.name;
    found[entry.name] = entry.bytes;
  }
  return found;
}

const std::map<std::string, std::string>& sample_files() {
  static const std::map<std::string, std::string> files = {
      {"text.bin", text_bytes(300000)},
      {"noise.bin", random_bytes(70000, 17)},
      {"empty.bin", ""},
      {"sub/code.bin", text_bytes(5000) + random_bytes(3000, 5)},
      {"d\xC3\xA9j\xC3\xA0 vu.bin", "names beyond ASCII come out as UTF-8\n"},
  };
  return files;
}

void write_samples(const TempDir& dir) {
  for (const auto& [name, bytes] : sample_files()) dir.write("in/" + name, bytes);
}

}  // namespace

TEST(ArchiveKind, ComesFromTheEndOfTheWholeName) {
  struct Case {
    const char* name;
    ArchiveKind want;
  };
  const Case cases[] = {
      {"a.zip", ArchiveKind::Zip},
      {"A.ZIP", ArchiveKind::Zip},
      {"a.7z", ArchiveKind::SevenZip},
      {"a.7Z", ArchiveKind::SevenZip},
      {"a.tar", ArchiveKind::Tar},
      {"a.tar.gz", ArchiveKind::TarGzip},
      {"a.TGZ", ArchiveKind::TarGzip},
      {"a.tar.bz2", ArchiveKind::TarBzip2},
      {"a.tbz2", ArchiveKind::TarBzip2},
      {"a.Tar.Xz", ArchiveKind::TarXz},
      {"a.txz", ArchiveKind::TarXz},
      {"a.tar.zst", ArchiveKind::TarZstd},
      {"a.bin.gz", ArchiveKind::Gzip},
      {"a.GZ", ArchiveKind::Gzip},
      {"a.rar", ArchiveKind::Rar},
      {"x.zip?y.7z", ArchiveKind::SevenZip},
      {"a.7z.bak", ArchiveKind::None},
      {"d.7z/", ArchiveKind::None},
      {"a.tar.gz.part", ArchiveKind::None},
      {"a.tgzz", ArchiveKind::None},
      {"set1.2/rom", ArchiveKind::None},
      {"7z", ArchiveKind::None},
      {"", ArchiveKind::None},
      {"a.zst", ArchiveKind::None},
      {"a.tar.lz4", ArchiveKind::None},
      {"a.targz", ArchiveKind::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(archive_kind_of(c.name), c.want);
  }
}

// Each archive holds the sample files under in/, names as stored, read
// alike from a file and from memory. (Every method and dialect is in the
// real-archive test.)
TEST(ArchiveReader, GivesTheBytesTheToolsWereGiven) {
  if (!has_tools("7zz bsdtar tar gzip bzip2 xz zstd")) GTEST_SKIP() << "archive tools missing";
  const TempDir dir;
  write_samples(dir);
  struct Case {
    const char* archive;
    const char* command;  // run in the temporary directory
  };
  const Case cases[] = {
      {"lzma2-solid.7z", "7zz a -bd -bso0 -m0=LZMA2 -ms=on lzma2-solid.7z in"},
      {"ppmd.7z", "7zz a -bd -bso0 -m0=PPMd -ms=off ppmd.7z in"},
      {"ustar.tar", "bsdtar --format ustar -cf ustar.tar in"},
      {"gnu.TGZ", "tar --format=gnu -czf gnu.TGZ in"},
      {"gnu.tar.bz2", "tar -cjf gnu.tar.bz2 in"},
      {"gnu.txz", "tar -cJf gnu.txz in"},
      {"gnu.tar.zst", "tar --zstd -cf gnu.tar.zst in"},
  };

  std::map<std::string, std::string> want;
  for (const auto& [name, bytes] : sample_files()) want["in/" + name] = bytes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.archive);
    run_in(dir, c.command);
    const std::string path = dir.at(c.archive);
    const ReadArchive from_file = read_file_archive(path);
    ASSERT_TRUE(from_file.opened);
    EXPECT_TRUE(from_file.ended);
    EXPECT_EQ(bytes_by_name(from_file), want);
    const ReadArchive from_memory = read_memory_archive(path, read_file(path));
    EXPECT_EQ(bytes_by_name(from_memory), want);
  }
}

// A gzip file is one image named after the file, read as gzip -d reads it:
// every member's data in order, each member matching its own trailer; zero
// bytes may follow the last member, nothing else. From memory and, in
// pieces that members straddle, from a file.
TEST(ArchiveReader, ReadsAGzipFileAsOneImageNamedAfterIt) {
  const std::string a = text_bytes(100000);
  const std::string b = random_bytes(300000, 9);  // incompressible: the file spans pieces
  const std::string member_a = gzip_member(a);
  const std::string member_b = gzip_member(b);
  const auto flipped = [](std::string bytes, size_t from_end) {
    bytes[bytes.size() - from_end] ^= 1;
    return bytes;
  };
  const std::string trailer_a = member_a.substr(member_a.size() - 8);
  struct Case {
    const char* name;
    std::string bytes;
    bool read;
    std::string want;
  };
  const Case cases[] = {
      {"one member", member_a, true, a},
      {"two members", member_a + member_b, true, a + b},
      {"a member of nothing between two", member_a + gzip_member("") + member_b, true, a + b},
      {"one member of nothing", gzip_member(""), true, ""},
      {"zero bytes after the last member", member_b + std::string(300000, '\0'), true, b},
      {"one zero byte after the last member", member_a + std::string(1, '\0'), true, a},
      {"a member after zero bytes", member_a + std::string(2, '\0') + member_b, false, ""},
      {"bytes after the last member", member_a + "junk", false, ""},
      {"zero bytes and then others", member_a + std::string(3, '\0') + "x", false, ""},
      {"a lying length", flipped(member_a, 1), false, ""},
      {"a lying CRC-32", flipped(member_a, 5), false, ""},
      {"a lying CRC-32 in the first member, its right trailer after it", flipped(member_a, 5) + trailer_a, false, ""},
      {"a lying CRC-32 in the first of two members", flipped(member_a, 5) + member_b, false, ""},
      {"a member of nothing with a lying length", flipped(gzip_member(""), 1), false, ""},
      {"the last trailer cut short", (member_a + member_b).substr(0, member_a.size() + member_b.size() - 3), false, ""},
      {"the second member's header cut short", member_a + "\x1F\x8B", false, ""},
      {"data that are not deflate", member_a.substr(0, 10) + "no deflate data here", false, ""},
  };
  const TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write("x.bin.gz", c.bytes);
    for (const ReadArchive& read :
         {read_memory_archive("a.zip?sub/x.bin.GZ", c.bytes), read_file_archive(dir.at("x.bin.gz"))}) {
      ASSERT_TRUE(read.opened);
      ASSERT_EQ(read.entries.size(), 1u);
      EXPECT_EQ(read.entries[0].name, "x.bin");
      EXPECT_EQ(read.entries[0].read, c.read);
      EXPECT_EQ(read.entries[0].bytes.substr(0, c.read ? std::string::npos : 0), c.want);
      EXPECT_EQ(read.entries[0].failure, c.read ? ArchiveFailure::None : ArchiveFailure::DamagedData);
    }
  }
}

// An encrypted entry fails as encrypted and the next one is still read;
// encrypted names cannot even be listed, so the archive does not open. An
// empty archive opens and ends at once.
TEST(ArchiveReader, ToldEncryptionFromDamage) {
  if (!has_tools("7zz")) GTEST_SKIP() << "7zz missing";
  const TempDir dir;
  write_samples(dir);
  run_in(dir,
         "7zz a -bd -bso0 -ms=off -psecret data.7z in/text.bin in/noise.bin && "
         "7zz a -bd -bso0 -psecret -mhe=on names.7z in && 7zz a -bd -bso0 empty.7z -x!* in");
  const ReadArchive data = read_file_archive(dir.at("data.7z"));
  ASSERT_TRUE(data.opened);
  ASSERT_EQ(data.entries.size(), 2u);
  for (const ReadEntry& entry : data.entries) {
    EXPECT_FALSE(entry.read);
    EXPECT_EQ(entry.failure, ArchiveFailure::Encrypted);
  }
  const ReadArchive names = read_file_archive(dir.at("names.7z"));
  EXPECT_FALSE(names.opened);
  const ReadArchive empty = read_file_archive(dir.at("empty.7z"));
  EXPECT_TRUE(empty.opened);
  EXPECT_TRUE(empty.ended);
  EXPECT_TRUE(empty.entries.empty());
}

// Files that are not what their names say do not open.
TEST(ArchiveReader, OpensOnlyWhatTheNameSays) {
  if (!has_tools("tar gzip")) GTEST_SKIP() << "tar missing";
  const TempDir dir;
  write_samples(dir);
  dir.write("text.gz", "not compressed\n");
  dir.write("empty.gz", "");
  dir.write("header-cut.gz", gzip_member("x").substr(0, 9));
  std::string reserved = gzip_member("x");
  reserved[3] = '\x20';  // a reserved flag
  dir.write("reserved.gz", reserved);
  dir.write("text.7z", "not an archive\n");
  dir.write("empty.rar", "");
  run_in(dir, "tar -cf plain.tar.gz in && tar -czf packed.tar in && tar -cf - in | gzip > real.tar.gz");
  for (const char* name :
       {"text.gz", "empty.gz", "header-cut.gz", "reserved.gz", "text.7z", "empty.rar", "plain.tar.gz", "packed.tar"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(read_file_archive(dir.at(name)).opened);
  }
  EXPECT_TRUE(read_file_archive(dir.at("real.tar.gz")).opened);
}

// RAR 4 and RAR 5 under one suffix; no free tool here writes them, so the
// test writer makes stored ones. (libarchive does not check a stored RAR
// file's CRC-32.) An archive cut short in a file's data fails that file.
TEST(ArchiveReader, ReadsBothRarLayouts) {
  const RarFiles files = {{"a.bin", text_bytes(5000)}, {"sub/b.bin", random_bytes(3000, 3)}, {"empty.bin", ""}};
  std::map<std::string, std::string> want(files.begin(), files.end());
  for (const auto& [layout, bytes] : {std::pair{"rar4", rar4_stored(files)}, std::pair{"rar5", rar5_stored(files)}}) {
    SCOPED_TRACE(layout);
    const ReadArchive read = read_memory_archive("set.rar", bytes);
    ASSERT_TRUE(read.opened);
    EXPECT_TRUE(read.ended);
    EXPECT_EQ(bytes_by_name(read), want);
    const size_t in_b = bytes.find(files[1].second.substr(1000, 20));
    ASSERT_NE(in_b, std::string::npos);
    const ReadArchive cut = read_memory_archive("set.rar", bytes.substr(0, in_b));
    ASSERT_EQ(cut.entries.size(), 2u);
    EXPECT_TRUE(cut.entries[0].read);
    EXPECT_FALSE(cut.entries[1].read) << cut.entries[1].bytes.size() << " " << cut.entries[1].name;
    EXPECT_FALSE(cut.ended);
  }
}

// Cut short between entries or inside a header, where libarchive just
// ends: a RAR 5 archive must end with its end block, a RAR 4 archive with
// a whole block. The header expected next then fails.
TEST(ArchiveReader, ToldARarArchiveCutShortFromAWholeOne) {
  const RarFiles files = {{"a.bin", text_bytes(5000)}, {"b.bin", random_bytes(3000, 3)}};
  const std::string rar5 = rar5_stored(files);
  const std::string rar4 = rar4_stored(files);
  const size_t rar5_after_a = rar5.find(files[0].second) + files[0].second.size();
  const size_t rar4_after_a = rar4.find(files[0].second) + files[0].second.size();
  struct Case {
    const char* name;
    std::string bytes;
    size_t entries;  // all read
    bool ended;      // rather than a header that failed
  };
  const Case cases[] = {
      {"RAR 5 whole", rar5, 2, true},
      {"RAR 5 without its end block", rar5.substr(0, rar5.size() - 8), 2, false},
      {"RAR 5 without its last byte", rar5.substr(0, rar5.size() - 1), 2, false},
      {"RAR 5 cut after a file", rar5.substr(0, rar5_after_a), 1, false},
      {"RAR 5 cut inside a header", rar5.substr(0, rar5_after_a + 5), 1, false},
      {"RAR 5 with its main header only", rar5_stored({}).substr(0, 16), 0, false},
      {"RAR 5 with bytes after its end block", rar5 + "trailing", 2, true},
      {"RAR 4 whole", rar4, 2, true},
      {"RAR 4 without its end block", rar4.substr(0, rar4.size() - 7), 2, true},
      {"RAR 4 cut after a file", rar4.substr(0, rar4_after_a), 1, true},
      {"RAR 4 cut inside a block's first 7 bytes", rar4.substr(0, rar4_after_a + 6), 1, false},
      {"RAR 4 cut inside a header", rar4.substr(0, rar4_after_a + 20), 1, false},
  };
  const TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write("set.rar", c.bytes);
    for (const ReadArchive& read : {read_memory_archive("set.rar", c.bytes), read_file_archive(dir.at("set.rar"))}) {
      ASSERT_TRUE(read.opened);
      ASSERT_EQ(read.entries.size(), c.entries);
      for (const ReadEntry& entry : read.entries) EXPECT_TRUE(entry.read) << entry.name;
      EXPECT_EQ(read.ended, c.ended);
    }
  }
}
