// Opening from a file and from memory: the same answers, and no hang, leak
// or stray descriptor.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/opened_zip.h"
#include "support/temp_dir.h"
#include "support/zip_builder.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"
#include "zip/zip_source.h"

namespace {

int open_descriptor_count() {
  int count = 0;
  DIR* directory = opendir("/proc/self/fd");
  if (directory == nullptr) return -1;
  while (const dirent* entry = readdir(directory)) count += entry->d_name[0] != '.';
  closedir(directory);
  return count;
}

// What a walker can learn of an open archive, written down for comparison.
std::string describe(ZipArchive& archive) {
  // Appended piece by piece: g++ 12 warns wrongly (-Wrestrict) on chains of +.
  std::string out = "comment ";
  out += std::to_string(archive.comment_size);
  out += kept_comment(archive);
  out += "\n";
  for (uint32_t i = 0; i < zip_entry_count(archive.reader); ++i) {
    ZipEntryStat stat{};
    if (zip_stat_entry(archive.reader, i, stat)) {
      out.append(stat.name, stat.name_size);
      out += std::to_string(stat.uncompressed_size);
    } else {
      out += "no stat ";
    }
    out += zip_entry_is_directory(archive.reader, i) ? "dir " : "file ";
    const std::optional<std::string> bytes = extract_entry(archive, i);
    out += bytes ? *bytes : "<failed>";
    out += "\n";
  }
  return out;
}

std::vector<std::string> sample_archives() {
  std::vector<std::string> out;
  ZipPlan plain = zip_of({stored_entry("a.bin", "alpha"), deflated_entry("sub/b.bin", text_bytes(9000)),
                          stored_entry("sub/", ""), stored_entry("empty", "")});
  plain.comment = "the comment";
  out.push_back(build_zip(plain));
  ZipPlan zip64 = plain;
  zip64.zip64 = true;
  zip64.entries[1].zip64 = true;
  zip64.entries[1].data_descriptor = true;
  out.push_back(build_zip(zip64));
  ZipPlan faults =
      zip_of({stored_entry("ok", "fine"), deflated_entry("crc", text_bytes(100)), stored_entry("shared", "fine")});
  faults.entries[1].crc32 = 0;
  faults.entries[2].shares_local_header_of = 0;
  faults.entries.push_back(stored_entry("zip64 short", "x"));
  faults.entries.back().zip64 = true;
  faults.entries.back().zip64_extra_size = 4;
  out.push_back(build_zip(faults));
  ZipPlan long_comment = zip_of({stored_entry("a", "x")});
  long_comment.comment = text_bytes(4000);
  out.push_back(build_zip(long_comment));
  out.push_back(bare_end_record());
  return out;
}

}  // namespace

TEST(ZipSource, FileAndMemoryGiveTheSameAnswers) {
  const TempDir dir;
  const std::vector<std::string> archives = sample_archives();
  for (size_t i = 0; i < archives.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string path = dir.write(std::to_string(i) + ".zip", archives[i]);
    OpenedZip from_memory(archives[i]);
    OpenedZipFile from_file(path);
    ASSERT_TRUE(from_memory.is_open);
    ASSERT_TRUE(from_file.is_open);
    EXPECT_EQ(from_file.archive.reader.archive_size, archives[i].size());
    const std::string want = describe(from_memory.archive);
    EXPECT_EQ(describe(from_file.archive), want);
  }
}

TEST(ZipSource, RefusesWhatIsNoArchiveFile) {
  const TempDir dir;
  dir.make_dir("folder.zip");
  dir.write("short.zip", bare_end_record().substr(0, 21));
  dir.write("empty.zip", "");
  dir.write("not-a-zip.zip", text_bytes(5000));
  ASSERT_EQ(mkfifo(dir.at("pipe.zip").c_str(), 0600), 0);
  const int descriptors_before = open_descriptor_count();
  // A named pipe must fail at once; the alarm ends the test if it hangs.
  alarm(20);
  for (const char* name : {"missing.zip", "folder.zip", "short.zip", "empty.zip", "not-a-zip.zip", "pipe.zip"}) {
    SCOPED_TRACE(name);
    ZipArchive archive{};
    EXPECT_FALSE(zip_open_file(archive, dir.at(name).c_str()));
    const ZipArchive cleared{};
    EXPECT_EQ(std::memcmp(&archive, &cleared, sizeof archive), 0);
  }
  alarm(0);
  EXPECT_EQ(open_descriptor_count(), descriptors_before);
}

TEST(ZipSource, OpensA22ByteFileAndClosesItsDescriptor) {
  const TempDir dir;
  const std::string path = dir.write("bare.zip", bare_end_record());
  const int descriptors_before = open_descriptor_count();
  ZipArchive archive{};
  ASSERT_TRUE(zip_open_file(archive, path.c_str()));
  EXPECT_EQ(zip_entry_count(archive.reader), 0u);
  EXPECT_EQ(open_descriptor_count(), descriptors_before + 1);
  zip_close(archive.reader);
  EXPECT_EQ(open_descriptor_count(), descriptors_before);
  const ZipReader cleared{};
  EXPECT_EQ(std::memcmp(&archive.reader, &cleared, sizeof cleared), 0);
}

// All zero is "closed": closing it again, or closing a cleared reader, must
// not close descriptor 0.
TEST(ZipSource, ClosingAClearedReaderTouchesNoDescriptor) {
  const int spare = dup(0);
  if (spare < 0) GTEST_SKIP() << "no standard input to watch";
  ZipReader reader{};
  zip_close(reader);
  zip_close(reader);
  EXPECT_NE(fcntl(0, F_GETFD), -1);
  close(spare);
}

TEST(ZipSource, ReadAtRefusesBytesPastTheEnd) {
  const std::string bytes = bare_end_record();
  OpenedZip zip(bytes);
  ASSERT_TRUE(zip.is_open);
  char out[23] = {};
  EXPECT_TRUE(zip_read_at(zip.archive.reader, 0, out, 22));
  EXPECT_EQ(std::string(out, 22), bytes);
  EXPECT_TRUE(zip_read_at(zip.archive.reader, 22, out, 0));
  EXPECT_FALSE(zip_read_at(zip.archive.reader, 1, out, 22));
  EXPECT_FALSE(zip_read_at(zip.archive.reader, 23, out, 0));
  EXPECT_FALSE(zip_read_at(zip.archive.reader, UINT64_MAX, out, 2));
}

namespace {

long peak_memory_kib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

// A zip64 archive at the end of a sparse file larger than 4 GiB: offsets and
// sizes are 64-bit, and opening and extracting read only the records and the
// entry, never the file as a whole.
TEST(ZipSource, ReadsOnlyWhatItNeedsOfAFileBeyond4GiB) {
  const uint64_t hole = (uint64_t{5} << 30) + 12345;
  ZipPlan plan = zip_of({deflated_entry("far.bin", text_bytes(20000)), stored_entry("b.bin", "bravo")});
  plan.zip64 = true;
  for (ZipEntryPlan& entry : plan.entries) entry.zip64 = true;
  ZipLayout layout = build_zip_layout(plan);
  // Move every offset the records state past the hole.
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const uint64_t zip64_offset_field = layout.central_record_offsets[i] + 46 + plan.entries[i].name.size() + 4 + 16;
    put_u64(layout.bytes, zip64_offset_field, layout.local_header_offsets[i] + hole);
  }
  put_u64(layout.bytes, *layout.zip64_end_record_offset + zip_field::zip64_directory_offset,
          layout.central_directory_offset + hole);
  put_u64(layout.bytes, *layout.zip64_locator_offset + zip_field::locator_record_offset,
          *layout.zip64_end_record_offset + hole);

  const TempDir dir;
  const std::string path = dir.at("far.zip");
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const bool written = ftruncate(fd, static_cast<off_t>(hole)) == 0 &&
                       pwrite(fd, layout.bytes.data(), layout.bytes.size(), static_cast<off_t>(hole)) ==
                           static_cast<ssize_t>(layout.bytes.size());
  close(fd);
  if (!written) GTEST_SKIP() << "no room for a sparse file here";

  const long memory_before = peak_memory_kib();
  OpenedZipFile zip(path);
  ASSERT_TRUE(zip.is_open);
  EXPECT_EQ(zip.archive.reader.archive_size, hole + layout.bytes.size());
  ZipEntryStat stat{};
  ASSERT_TRUE(zip_stat_entry(zip.archive.reader, 0, stat));
  EXPECT_EQ(stat.local_header_offset, hole);
  EXPECT_EQ(extract_entry(zip.archive, 0), text_bytes(20000));
  EXPECT_EQ(extract_entry(zip.archive, 1), "bravo");
  EXPECT_LT(peak_memory_kib() - memory_before, 64 * 1024);
}
