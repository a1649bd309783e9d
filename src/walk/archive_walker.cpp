// The archive walker: entries in index order, handed to the workers as
// jobs; nested archives depth-first from the extracted block; the comment
// lines of -pzc; the expansion budget.
#include "walk/archive_walker.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "catalogue/run_mode.h"
#include "walk/image_jobs.h"
#include "walk/path_names.h"
#include "walk/walk_observer.h"
#include "zip/zip_archive.h"

namespace {

// An archive that contains itself would otherwise be walked until memory
// runs out; real collections nest two or three levels.
constexpr int max_nesting_level = 16;

// What may still be unpacked from one archive file, in two parts. What
// nesting multiplies (nested archives' blocks, which are held whole, and the
// images inside them) shares one part across all levels: deflate cannot pass
// 1,032:1 and archives inside archives barely compress, so only a crafted
// archive (copies of copies of highly compressed entries) comes near it.
// Images streamed from the archive file itself only cost time, and a blank
// image packs far tighter than 1,032:1 by bzip2, LZMA, XZ or Zstandard: they
// have their own, larger part.
struct ExpansionBudget {
  uint64_t nested_left;
  uint64_t own_images_left;
  bool exhausted;  // an entry would have passed it: the file's walk is over
};

constexpr uint64_t budget_per_archive_byte = 1032;
constexpr uint64_t nested_allowance = uint64_t{64} << 20;
constexpr uint64_t own_images_allowance = uint64_t{16} << 30;
// Empty and tiny entries still cost a walk; thousands of them count.
constexpr uint64_t least_entry_charge = 4096;

uint64_t budget_part(uint64_t archive_size, uint64_t allowance) {
  if (archive_size > (UINT64_MAX - allowance) / budget_per_archive_byte) return UINT64_MAX;
  return archive_size * budget_per_archive_byte + allowance;
}

ExpansionBudget expansion_budget_for(uint64_t archive_size) {
  return {budget_part(archive_size, nested_allowance), budget_part(archive_size, own_images_allowance), false};
}

// Takes `charge` (at least the least entry charge) out of `left`, or reports
// that it would pass it and ends the walk of the whole archive file.
bool charge_budget(ExpansionBudget& budget, uint64_t& left, uint64_t charge, const char* entry_name) {
  charge = std::max(charge, least_entry_charge);
  if (charge > left) {
    report_failure(WalkFailure{WalkMessage::ExpansionLimit, FailureReason::ExpansionLimit, entry_name, 0});
    budget.exhausted = true;
    return false;
  }
  left -= charge;
  return true;
}

// What a nested archive refused for depth costs: what it could unpack to if
// it were opened, since what it holds is never seen. Otherwise refusing
// would be free, and a fan-out of archives past the depth limit would fill
// standard error before the budget ends it.
uint64_t unopened_archive_charge(uint64_t uncompressed_size) {
  const uint64_t size = std::max(uncompressed_size, least_entry_charge);
  return size > UINT64_MAX / budget_per_archive_byte ? UINT64_MAX : size * budget_per_archive_byte;
}

// `entry_name` is archive?entry.
void report_unpack_failure(const char* entry_name, ZipFailure failure) {
  report_failure(WalkFailure{WalkMessage::UncompressFailed, reason_of_zip_failure(failure), entry_name, 0});
}

// An image entry is handed to the workers, who summarise it as it is
// unpacked, piece by piece.
void catalogue_entry(const std::shared_ptr<OpenArchive>& archive, uint32_t index, const char* entry_name,
                     ExpansionBudget& budget, int level) {
  ZipExtraction extraction{};
  ZipFailure failure = ZipFailure::None;
  if (!zip_prepare_extraction(archive->archive.reader, index, extraction, &failure)) {
    report_unpack_failure(entry_name, failure);
    return;
  }
  uint64_t& left = level == 1 ? budget.own_images_left : budget.nested_left;
  if (!charge_budget(budget, left, extraction.uncompressed_size, entry_name)) return;
  submit_entry_image(entry_name, archive, extraction);
}

void walk_archive(const char* display_name, const std::shared_ptr<OpenArchive>& open_archive, ExpansionBudget& budget,
                  int level);

// A nested archive is the one thing held whole, for its own walk and for
// the jobs reading its entries.
// `recorded_size` is what the central directory says it unpacks to.
void walk_nested_archive(const OpenArchive& archive, uint32_t index, uint64_t recorded_size, const char* entry_name,
                         ExpansionBudget& budget, int level) {
  if (level >= max_nesting_level) {
    if (!charge_budget(budget, budget.nested_left, unopened_archive_charge(recorded_size), entry_name)) return;
    report_failure(WalkFailure{WalkMessage::NestingTooDeep, FailureReason::TooDeep, entry_name, 0});
    return;
  }
  // Its recorded size is charged before any memory is given to it.
  ZipExtraction extraction{};
  ZipFailure failure = ZipFailure::None;
  if (!zip_prepare_extraction(archive.archive.reader, index, extraction, &failure)) {
    report_unpack_failure(entry_name, failure);
    return;
  }
  if (!charge_budget(budget, budget.nested_left, extraction.uncompressed_size, entry_name)) return;
  const auto nested = std::make_shared<OpenArchive>();
  uint64_t size = 0;
  nested->block.reset(zip_extract_prepared_entry(archive.archive.reader, extraction, size, &failure));
  if (!nested->block) {
    report_unpack_failure(entry_name, failure);
    return;
  }
  if (!zip_open_memory(nested->archive, nested->block.get(), size, &failure)) {
    report_failure(WalkFailure{WalkMessage::ErrorOpening, reason_of_zip_failure(failure), entry_name, 0});
    return;
  }
  walk_archive(entry_name, nested, budget, level + 1);
}

void scan_entry(const char* archive_name, const std::shared_ptr<OpenArchive>& archive, uint32_t index,
                const ZipEntryStat& stat, ExpansionBudget& budget, int level) {
  const bool is_archive = has_zip_suffix(stat.name);
  if (g_mode == RunMode::Pzc && !is_archive) return;
  const std::unique_ptr<char[]> entry_name = join_path(archive_name, '?', stat.name);
  if (is_archive) {
    walk_nested_archive(*archive, index, stat.uncompressed_size, entry_name.get(), budget, level);
    return;
  }
  catalogue_entry(archive, index, entry_name.get(), budget, level);
}

// `level` is the archive's nesting depth: 1 for the archive file itself.
void walk_archive(const char* display_name, const std::shared_ptr<OpenArchive>& open_archive, ExpansionBudget& budget,
                  int level) {
  const ZipArchive& archive = open_archive->archive;
  if (g_mode == RunMode::Pzc && archive.comment_size != 0 && g_walk_observer.archive_comment != nullptr) {
    g_walk_observer.archive_comment(display_name, archive.comment);
  }
  for (uint32_t index = 0; index < zip_entry_count(archive.reader); ++index) {
    ZipEntryStat stat{};
    if (!zip_stat_entry(archive.reader, index, stat)) {
      report_failure(WalkFailure{WalkMessage::FileStat, FailureReason::DamagedArchive, display_name, index});
      continue;
    }
    if (zip_entry_is_directory(archive.reader, index)) continue;
    scan_entry(display_name, open_archive, index, stat, budget, level);
    if (budget.exhausted) return;
  }
}

}  // namespace

void scan_archive(const char* display_name, const std::shared_ptr<OpenArchive>& archive) {
  ExpansionBudget budget = expansion_budget_for(archive->archive.reader.archive_size);
  walk_archive(display_name, archive, budget, 1);
}
