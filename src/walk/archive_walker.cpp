// The archive walker: entries in index order, nested archives depth-first
// from the extracted block, and the comment lines of -pzc.
#include "walk/archive_walker.h"

#include <cstdio>
#include <memory>

#include "catalogue/run_mode.h"
#include "catalogue/rom_entry.h"
#include "walk/image_reading.h"
#include "walk/messages.h"
#include "walk/path_names.h"
#include "zip/zip_archive.h"

namespace {

// An archive that contains itself would otherwise be walked until memory
// runs out; real collections nest two or three levels.
constexpr int max_nesting_level = 16;

struct ArchiveCloser {
  ZipArchive& archive;
  ~ArchiveCloser() { zip_close(archive.reader); }
};

struct ExtractedBlock {
  uint8_t* bytes = nullptr;
  uint64_t size = 0;
  ~ExtractedBlock() { zip_free(bytes); }
};

void print_comment_line(const char* display_name, const ZipArchive& archive) {
  // The comment is printed raw, up to its first NUL.
  std::printf("%s: %s\n", display_name, archive.comment);
}

void report_unpack_failure(const char* archive_name, const ZipEntryStat& stat) {
  report_failure("imgchk: uncompress of %s?%s failed\n", archive_name, stat.name);
}

// An image entry is summarised as it is unpacked, piece by piece.
void catalogue_entry(const char* archive_name, ZipArchive& archive, uint32_t index, const ZipEntryStat& stat,
                     const char* entry_name) {
  ZipExtraction extraction{};
  ImageSummary summary{};
  if (!zip_prepare_extraction(archive.reader, index, extraction) ||
      !summarise_entry(archive.reader, extraction, is_admitted_size(extraction.uncompressed_size), summary)) {
    report_unpack_failure(archive_name, stat);
    return;
  }
  add_summarised_rom(entry_name, summary);
}

// A nested archive is the one thing held whole, for its own walk. The block
// outlives the nested archive that reads it: the nested walk closes the
// archive before the block is released here.
void walk_nested_archive(const char* archive_name, ZipArchive& archive, uint32_t index, const ZipEntryStat& stat,
                         const char* entry_name, int level) {
  if (level >= max_nesting_level) {
    report_failure("imgchk: nesting too deep at %s\n", entry_name);
    return;
  }
  ExtractedBlock block;
  block.bytes = zip_extract_entry(archive.reader, index, block.size);
  if (block.bytes == nullptr) {
    report_unpack_failure(archive_name, stat);
    return;
  }
  ZipArchive nested{};
  if (!zip_open_memory(nested, block.bytes, block.size)) {
    report_failure("imgchk: error opening %s\n", entry_name);
    return;
  }
  scan_archive(entry_name, nested, level + 1);
}

void scan_entry(const char* archive_name, ZipArchive& archive, uint32_t index, const ZipEntryStat& stat,
                int level) {
  const bool is_archive = has_zip_suffix(stat.name);
  if (g_mode == RunMode::Pzc && !is_archive) return;
  const std::unique_ptr<char[]> entry_name = join_path(archive_name, '?', stat.name);
  if (is_archive) {
    walk_nested_archive(archive_name, archive, index, stat, entry_name.get(), level);
    return;
  }
  catalogue_entry(archive_name, archive, index, stat, entry_name.get());
}

}  // namespace

void scan_archive(const char* display_name, ZipArchive& archive, int level) {
  const ArchiveCloser closer{archive};
  if (g_mode == RunMode::Pzc && archive.comment_size != 0) print_comment_line(display_name, archive);
  for (uint32_t index = 0; index < zip_entry_count(archive.reader); ++index) {
    ZipEntryStat stat{};
    if (!zip_stat_entry(archive.reader, index, stat)) {
      report_failure("imgchk: file stat %d of %s failed\n", static_cast<int>(index), display_name);
      continue;
    }
    if (zip_entry_is_directory(archive.reader, index)) continue;
    scan_entry(display_name, archive, index, stat, level);
  }
}
