// Heavy tests, run by `make test-heavy` only: a 5 GiB ROM written as
// TorrentZip (zip64 sizes), streamed from a generator, never held whole,
// and read back through our own reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "rebuild/set_writing.h"
#include "rebuild/torrentzip_check.h"
#include "support/temp_dir.h"
#include "zip/zip_archive.h"
#include "zip/zip_entry.h"
#include "zip/zip_format.h"
#include "zip/zip_source.h"

namespace {

constexpr uint64_t rom_size = (uint64_t{5} << 30) + 12345;
constexpr size_t piece_size = size_t{1} << 20;

// Piece k: numbered text lines, so that it deflates well but not to nothing.
void fill_piece(uint64_t piece, uint8_t* out) {
  size_t at = 0;
  for (uint64_t line = 0; at < piece_size; ++line) {
    char text[64];
    const int size = std::snprintf(text, sizeof text, "piece %llu line %llu\n", static_cast<unsigned long long>(piece),
                                   static_cast<unsigned long long>(line));
    const size_t take = std::min(static_cast<size_t>(size), piece_size - at);
    std::memcpy(out + at, text, take);
    at += take;
  }
}

bool pour_generated(void*, const RomSink& sink) {
  std::string piece(piece_size, '\0');
  auto* bytes = reinterpret_cast<uint8_t*>(piece.data());
  for (uint64_t done = 0, k = 0; done < rom_size; ++k) {
    fill_piece(k, bytes);
    const size_t size = static_cast<size_t>(std::min<uint64_t>(piece_size, rom_size - done));
    if (!sink.take(sink.context, bytes, size)) return false;
    done += size;
  }
  return true;
}

bool take_crc(void* context, const uint8_t* bytes, size_t size) {
  auto& crc = *static_cast<uLong*>(context);
  crc = crc32(crc, bytes, static_cast<uInt>(size));
  return true;
}

}  // namespace

TEST(TorrentZipHeavy, WritesAndReadsBackA5GiBRom) {
  uLong crc = crc32(0, nullptr, 0);
  ASSERT_TRUE(pour_generated(nullptr, RomSink{&crc, take_crc}));
  RebuildRom rom{};
  rom.name = "huge.bin";
  rom.size = rom_size;
  rom.crc = static_cast<uint32_t>(crc);
  rom.source = RomSource{nullptr, pour_generated};

  TempDir out;
  const int folder = open(out.path.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  RebuildError error{};
  // Written, read back and checked (every byte inflated again) inside.
  ASSERT_TRUE(write_torrentzip_file(folder, "huge.zip", &rom, 1, error)) << static_cast<int>(error.failure);
  EXPECT_TRUE(is_torrentzip_file_of(folder, "huge.zip", &rom, 1));
  close(folder);

  ZipArchive archive{};
  ASSERT_TRUE(zip_open_file(archive, out.at("huge.zip").c_str()));
  ZipEntryStat stat{};
  ASSERT_TRUE(zip_stat_entry(archive.reader, 0, stat));
  EXPECT_EQ(stat.uncompressed_size, rom_size);
  EXPECT_EQ(stat.crc32, rom.crc);
  uint8_t local[local_header_size + 8 + 12];
  ASSERT_TRUE(zip_read_at(archive.reader, 0, local, sizeof local));
  EXPECT_EQ(load_u16(local + 4), 45);                               // version needed: zip64
  EXPECT_EQ(load_u32(local + 22), zip64_marker_32);                 // the size is in the extra field
  EXPECT_EQ(load_u16(local + zip_field::local_extra_size), 4 + 8);  // the size alone
  EXPECT_EQ(load_u64(local + local_header_size + 8 + 4), rom_size);
  zip_close(archive.reader);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  EXPECT_LT(usage.ru_maxrss, 64L << 10) << "peak resident KiB: the ROM must stream";
}
