// The TorrentZip writer: the reference archives byte for byte, the zip64
// records, and sources that change or fail on the way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "rebuild/file_output.h"
#include "rebuild/set_writing.h"
#include "rebuild/torrentzip_check.h"
#include "rebuild/torrentzip_format.h"
#include "support/rom_sources.h"
#include "support/temp_dir.h"
#include "support/test_bytes.h"
#include "zip/zip_archive.h"
#include "zip/zip_format.h"

namespace {

struct FolderFd {
  int fd;
  explicit FolderFd(const std::string& path) : fd(open(path.c_str(), O_RDONLY | O_DIRECTORY)) {}
  ~FolderFd() { close(fd); }
};

const std::string reference_dir = IMGCHK_TORRENTZIP_DIR;

uint32_t u32_at(const std::string& bytes, size_t offset) {
  return load_u32(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
}

uint16_t u16_at(const std::string& bytes, size_t offset) {
  return load_u16(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
}

}  // namespace

TEST(TorrentZipWriter, ReproducesEveryReferenceArchive) {
  const char* const cases[] = {"basic", "tiny", "utf8", "subdir", "sortorder", "long"};
  const size_t piece_sizes[] = {1 << 20, 4093, 1};
  for (const char* name : cases) {
    const std::string expected = read_file(reference_dir + "/expected/" + name + ".zip");
    ASSERT_FALSE(expected.empty()) << name;
    for (const size_t piece_size : piece_sizes) {
      SCOPED_TRACE(std::string(name) + " in pieces of " + std::to_string(piece_size));
      std::vector<TestRom> roms = test_roms_in_folder(reference_dir + "/inputs/" + name);
      if (piece_size == 1 && std::string(name) == "long") continue;  // a byte at a time adds nothing but minutes
      for (TestRom& rom : roms) rom.piece_size = piece_size;
      const std::vector<RebuildRom> records = rebuild_roms_of(roms);
      TempDir out;
      FolderFd folder(out.path);
      RebuildError error{};
      ASSERT_TRUE(write_torrentzip_file(folder.fd, "set.zip", records.data(), records.size(), error))
          << static_cast<int>(error.failure);
      EXPECT_TRUE(read_file(out.at("set.zip")) == expected);
      EXPECT_TRUE(is_torrentzip_file_of(folder.fd, "set.zip", records.data(), records.size()));
      EXPECT_TRUE(leftover_names(out.path).empty());
    }
  }
}

// Sizes and offsets at or past 4 GiB go to the zip64 extra field, only
// those, each in the fixed order, with the field it replaces at the marker.
TEST(TorrentZipFormat, PutsOnlyOverflowingValuesInTheZip64Field) {
  constexpr uint64_t big = uint64_t{5} << 30;
  constexpr uint64_t marker = 0xFFFFFFFF;
  struct Case {
    uint64_t size, compressed_size, offset;
    std::vector<uint64_t> local_values, central_values;
  };
  const Case cases[] = {
      {100, 50, 1000, {}, {}},
      {marker - 1, 10, marker - 1, {}, {}},
      {marker, 10, 0, {marker}, {marker}},
      {big, 5000000, 0, {big}, {big}},
      {big, big + 1, 0, {big, big + 1}, {big, big + 1}},
      {10, 5, big, {}, {big}},
      {big, 7, marker, {big}, {big, marker}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " " + std::to_string(c.compressed_size) + " " + std::to_string(c.offset));
    const TorrentZipFields fields{"a.bin", 5, c.size, c.compressed_size, 0x12345678, c.offset};
    std::string local(local_header_size + 5 + max_local_zip64_extra, '\0');
    std::string central(central_record_size + 5 + max_central_zip64_extra, '\0');
    local.resize(put_local_header(fields, reinterpret_cast<uint8_t*>(local.data())));
    central.resize(put_central_record(fields, reinterpret_cast<uint8_t*>(central.data())));
    EXPECT_EQ(local.size(), local_header_length(fields));
    const struct {
      const std::string& record;
      size_t fixed;  // where the version needed, sizes and extra field's size are
      const std::vector<uint64_t>& values;
    } records[] = {{local, local_header_size, c.local_values}, {central, central_record_size, c.central_values}};
    for (const auto& r : records) {
      const size_t lead = &r.record == &central ? 2 : 0;  // the central record's version made by
      EXPECT_EQ(u16_at(r.record, 4 + lead), r.values.empty() ? 20 : 45);
      EXPECT_EQ(u32_at(r.record, 18 + lead), c.compressed_size >= marker ? marker : c.compressed_size);
      EXPECT_EQ(u32_at(r.record, 22 + lead), c.size >= marker ? marker : c.size);
      const size_t extra_size = r.values.empty() ? 0 : 4 + 8 * r.values.size();
      ASSERT_EQ(r.record.size(), r.fixed + 5 + extra_size);
      if (extra_size == 0) continue;
      const size_t extra = r.fixed + 5;
      EXPECT_EQ(u16_at(r.record, extra), 1);
      EXPECT_EQ(u16_at(r.record, extra + 2), 8 * r.values.size());
      for (size_t k = 0; k < r.values.size(); ++k) {
        EXPECT_EQ(load_u64(reinterpret_cast<const uint8_t*>(r.record.data()) + extra + 4 + 8 * k), r.values[k]);
      }
    }
    EXPECT_EQ(u32_at(central, 42), c.offset >= marker ? marker : c.offset);
  }
}

// Past the threshold, lowered here so that small data take the zip64 path:
// an entry whose compressed size turns out to need the local header's zip64
// field is written again with it (its source poured twice), and the archive
// reads back through our reader, every entry unpacked and checked.
TEST(TorrentZipWriter, RewritesAnEntryWhoseCompressedSizeNeedsZip64) {
  std::vector<TestRom> roms(3);
  roms[0].name = "noise.bin";  // 3,000 bytes that deflate to more: size and compressed size
  roms[0].bytes = random_bytes(3000, 7);
  roms[1].name = "text.bin";  // only the size
  roms[1].bytes = std::string(5000, 'z');
  roms[2].name = "z.bin";  // nothing but its offset, in the central record
  roms[2].bytes = "abc";
  const std::vector<RebuildRom> records = rebuild_roms_of(roms);
  TempDir out;
  FolderFd folder(out.path);
  set_zip64_threshold_for_tests(1000);
  RebuildError error{};
  const bool written = write_torrentzip_file(folder.fd, "set.zip", records.data(), records.size(), error);
  const bool kept = is_torrentzip_file_of(folder.fd, "set.zip", records.data(), records.size());
  set_zip64_threshold_for_tests(0xFFFFFFFF);
  ASSERT_TRUE(written) << static_cast<int>(error.failure);
  EXPECT_TRUE(kept);
  EXPECT_EQ(roms[0].pour_count, 2);
  EXPECT_EQ(roms[1].pour_count, 1);
  const std::string archive = read_file(out.at("set.zip"));
  EXPECT_EQ(u16_at(archive, 4), 45);
  EXPECT_EQ(u16_at(archive, zip_field::local_extra_size), 4 + 16);
  EXPECT_EQ(load_u64(reinterpret_cast<const uint8_t*>(archive.data()) + local_header_size + 9 + 4), 3000u);
  const size_t end = archive.size() - end_record_size - torrentzip_comment_size;
  EXPECT_EQ(u32_at(archive, end - zip64_locator_size), zip64_locator_signature);
}

// More than 65,535 entries: a zip64 end record and locator, the end record's
// counts at their marker, and the comment still the CRC-32 of the central
// records alone. Empty files keep it cheap.
TEST(TorrentZipWriter, WritesZip64EndRecordsPast65535Entries) {
  constexpr size_t count = 65536 + 3;
  std::vector<TestRom> roms(count);
  for (size_t k = 0; k < count; ++k) roms[k].name = std::to_string(k);
  const std::vector<RebuildRom> records = rebuild_roms_of(roms, false);
  TempDir out;
  FolderFd folder(out.path);
  RebuildError error{};
  ASSERT_TRUE(write_torrentzip_file(folder.fd, "many.zip", records.data(), records.size(), error));
  const std::string archive = read_file(out.at("many.zip"));
  const size_t end = archive.size() - end_record_size - torrentzip_comment_size;
  ASSERT_EQ(u32_at(archive, end), end_record_signature);
  EXPECT_EQ(u16_at(archive, end + 8), 0xFFFF);
  EXPECT_EQ(u16_at(archive, end + 10), 0xFFFF);
  const size_t locator = end - zip64_locator_size;
  const size_t zip64_end = locator - zip64_end_record_size;
  ASSERT_EQ(u32_at(archive, locator), zip64_locator_signature);
  EXPECT_EQ(load_u64(reinterpret_cast<const uint8_t*>(archive.data()) + locator + 8), zip64_end);
  ASSERT_EQ(u32_at(archive, zip64_end), zip64_end_record_signature);
  EXPECT_EQ(u16_at(archive, zip64_end + 12), 45);
  EXPECT_EQ(u16_at(archive, zip64_end + 14), 45);
  const auto* bytes = reinterpret_cast<const uint8_t*>(archive.data());
  EXPECT_EQ(load_u64(bytes + zip64_end + 32), count);
  const uint64_t directory_size = load_u64(bytes + zip64_end + 40);
  const uint64_t directory_offset = load_u64(bytes + zip64_end + 48);
  ASSERT_EQ(directory_offset + directory_size, zip64_end);
  EXPECT_EQ(u32_at(archive, end + 12), directory_size);  // small enough for its own field
  char comment[32];
  std::snprintf(comment, sizeof comment, "TORRENTZIPPED-%08X",
                static_cast<unsigned>(crc32(0, bytes + directory_offset, static_cast<uInt>(directory_size))));
  EXPECT_EQ(archive.substr(end + end_record_size), comment);
  // Entry 0 is "0", then "1", "10", "100", ...: byte order.
  EXPECT_EQ(archive.substr(local_header_size, 1), "0");
  EXPECT_EQ(archive.substr(local_header_size + 1 + 2 + local_header_size, 1), "1");
  EXPECT_EQ(archive.substr(2 * (local_header_size + 1 + 2) + local_header_size, 2), "10");
}

// A source whose bytes are not the ROM's, or that fails, fails the set: no
// temporary file is left and a file already under the name keeps its bytes.
// A full disk likewise, with its errno; the same for the folder form.
TEST(TorrentZipWriter, FailsTheSetWhenASourceChangesOrTheDiskIsFull) {
  const std::string image = text_bytes(300000);
  struct Case {
    const char* what;
    std::string poured;
    bool pours_other, source_fails;
    uint64_t file_size_limit;
    RebuildFailure want;
    int want_errno;
  };
  std::string flipped = image;
  flipped[1234] ^= 1;
  const Case cases[] = {
      {"longer", image + "x", true, false, UINT64_MAX, RebuildFailure::SourceChanged, 0},
      {"shorter", image.substr(1), true, false, UINT64_MAX, RebuildFailure::SourceChanged, 0},
      {"empty", "", true, false, UINT64_MAX, RebuildFailure::SourceChanged, 0},
      {"one bit", flipped, true, false, UINT64_MAX, RebuildFailure::SourceChanged, 0},
      {"unreadable", "", false, true, UINT64_MAX, RebuildFailure::SourceUnreadable, 0},
      {"disk full in the data", "", false, false, 1000, RebuildFailure::WriteFailed, ENOSPC},
      {"disk full in the directory", "", false, false, 64550, RebuildFailure::WriteFailed, ENOSPC},
  };
  for (const bool as_folder : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (as_folder ? " (folder)" : " (zip)"));
      std::vector<TestRom> roms(2);
      roms[0].name = "a.bin";
      roms[0].bytes = "small";
      roms[1].name = "dir/b.bin";
      roms[1].bytes = image;
      roms[1].poured = c.poured;
      roms[1].pours_other = c.pours_other;
      roms[1].source_fails = c.source_fails;
      // Compressed, the text is 64,415 bytes: the second limit falls in the central
      // directory (64,496 to 64,602); a plain file fails in its data.
      const uint64_t limit = as_folder && c.file_size_limit != UINT64_MAX ? 150000 : c.file_size_limit;
      const std::vector<RebuildRom> records = rebuild_roms_of(roms);
      TempDir out;
      out.write("set.zip", "the old archive");
      out.write("set/dir/b.bin", "the old file");
      FolderFd folder(out.path);
      set_file_size_limit_for_tests(limit);
      RebuildError error{};
      const bool written = as_folder
                               ? write_rom_folder(folder.fd, "set", records.data(), records.size(), error)
                               : write_torrentzip_file(folder.fd, "set.zip", records.data(), records.size(), error);
      set_file_size_limit_for_tests(UINT64_MAX);
      EXPECT_FALSE(written);
      EXPECT_EQ(error.failure, c.want);
      EXPECT_EQ(error.error_number, c.want_errno);
      if (c.want != RebuildFailure::WriteFailed) {
        EXPECT_EQ(error.rom, 1u);
      }
      EXPECT_EQ(read_file(out.at("set.zip")), "the old archive");
      EXPECT_EQ(read_file(out.at("set/dir/b.bin")), "the old file");
      EXPECT_TRUE(leftover_names(out.path).empty());
      EXPECT_TRUE(leftover_names(out.at("set/dir")).empty());
    }
  }
}
